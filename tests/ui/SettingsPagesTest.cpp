// The settings pages' data model and dispatcher, the start-up gating, and the
// pages themselves in the real browser engine.
#include "core/ArtProgressHUD.h"
#include "core/BackendAddress.h"
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/NoticeTexts.h"
#include "core/Notifications.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePermissions.h"
#include "fakes/TempHome.h"
#include "fakes/ScreenShot.h"
#include "fakes/VirtualTime.h"
#include "platform/LoginItem.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "ui/ApplicationServices.h"
#include "ui/ChatPortalAddress.h"
#include "ui/DeviceLinkGate.h"
#include "ui/IndicatorImage.h"
#include "ui/MMJsModel.h"
#include "ui/MMpermiWC.h"
#include "ui/ScriptMessageWebView.h"
#include "ui/ScriptMessageBridge.h"
#include "ui/TargetChooser.h"
#include "ui/UWHomeViewController.h"
#include "voice/UWHomeViewModel.h"

#include <QLabel>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWebEnginePage>

#include <gtest/gtest.h>

#include <algorithm>

namespace settingspages {

QJsonValue json(const char* text)
{
    const std::optional<QJsonValue> value = ScriptMessageBridge::parseBody(QString::fromUtf8(text));
    EXPECT_TRUE(value.has_value()) << text;
    return value.value_or(QJsonValue());
}

struct RecordingServices : ApplicationServices {
    QStringList calls;
    QWidget* over = nullptr; // the window the last dialog was asked over
    QString chosenTarget = QStringLiteral("executionLocationLoad('file:///chosen/')");
    void showChatWindow() override { calls << "chat"; }
    void showShortCutWindow() override { calls << "hotkey"; }
    void showSnipTransWC() override { calls << "snip"; }
    void cancelSnipTrans() override { calls << "cancel snip"; }
    void checkVersion() override { calls << "startup check"; }
    void changeFolderAction(QWidget* window, PageCall sendToPage) override
    {
        calls << "choose target";
        over = window;
        sendToPage(chosenTarget);
    }
    void checkNewVersion() override { calls << "check version"; }
    void exportDocumentFolder(QWidget* window) override
    {
        calls << "export";
        over = window;
    }
    void setSelectionMonitor(bool on) override { calls << (on ? "monitor on" : "monitor off"); }
    void waitingForConnectMouseWithDaley(double seconds) override
    {
        calls << QStringLiteral("ble wait %1").arg(seconds);
    }
};

// One private home with the settings, languages, command store and a
// recording of everything sent to the mouse.
class PagesFixture : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/prefs.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    HRPSqliteOperation database { home.path() + QStringLiteral("/db.sqlite") };
    UWHomeViewModel commands { database, mmQuery({ home.path() + QStringLiteral("/apps") }), &prefs };
    QList<quint64> dpiSent;
    QList<bool> popupSent;
    int notices = 0;

    PagesFixture()
    {
        database.createTableWithtableName(UWHomeViewModel::kDBCustomizeCmdList, MMCustomCmdItem());
        database.createTableWithtableName(UWHomeViewModel::kDBMyAppsoooCmdListKey, MMAppdataItem());
    }

    MMJsModel::Services services()
    {
        return { user, languages, commands, prefs, [this](quint64 level) { dpiSent << level; },
            [this](bool on) { popupSent << on; }, [this] { ++notices; } };
    }
};

using MMJsModelTest = PagesFixture;

TEST_F(MMJsModelTest, PageCallsCarryAnyTextAsAnInertStringLiteral)
{
    const QString nasty = QStringLiteral("it's \"q\" \\ back\nline\r\u2028\u2029</script><b>&\x01");
    const QString literal = ScriptMessageBridge::stringLiteral(nasty);
    EXPECT_EQ(literal,
        QStringLiteral("'it\\'s \\u0022q\\u0022 \\\\ "
                       "back\\nline\\r\\u2028\\u2029\\u003c/script\\u003e\\u003cb\\u003e\\u0026\\u0001'"));
    EXPECT_EQ(ScriptMessageBridge::functionCall(
                  QStringLiteral("goToPage"), { QStringLiteral("4"), QStringLiteral("{}") }),
        QStringLiteral("goToPage('4','{}')"));
}

TEST_F(MMJsModelTest, PageObjectsOfAFreshInstall)
{
    MMJsModel model(services());
    const QJsonObject first = QJsonDocument::fromJson(model.readUserDefaultWebConfig1st().toUtf8()).object();
    EXPECT_EQ(first.value("auxiliary_click"), "0");
    EXPECT_EQ(first.value("product_model_name"), "(null)");
    EXPECT_EQ(first.value("product_myDev_name"), "");
    user.deviceInfo().setDeviceModel(6);
    EXPECT_EQ(model.readMyDevModel(), "");
    user.deviceInfo().setDeviceModel(3);
    EXPECT_EQ(model.readMyDevModel(), "KZ43");
    const QJsonObject fifth = QJsonDocument::fromJson(model.readUserDefaultWebConfig5ve().toUtf8()).object();
    EXPECT_EQ(fifth.value("deviceSN"), "");
    EXPECT_EQ(fifth.value("firmwareVersion"), "");
    EXPECT_EQ(model.reloadWithIndex(3), QStringLiteral("indexLoading('')"));
    EXPECT_EQ(model.oc_sendCustomCmdList(), QString(""));
    languages.setIndexOfUI(2);
    EXPECT_EQ(model.loadSomeObjFirst(), QStringLiteral("init('{\\u0022lang\\u0022:2}')"));
}

TEST_F(MMJsModelTest, MessagesApplyTheFirstKeyAndRefuseBodiesOfTheWrongKind)
{
    struct Case {
        const char* message;
        const char* body;
        bool applied;
        const char* key; // settings key read back, or nullptr
        qlonglong expected;
    };
    const Case cases[] = {
        { "mouseSettings", R"({"auxiliary_click": 3})", true, "key_1st_dpi", 3 },
        { "mouseSettings", R"({"auxiliary_click": "2", "voice_key_short_click": 5})", true,
            "key_1st_voice_short", 0 },
        { "mouseSettings", R"({"voice_key_short_click": "7"})", true, "key_1st_voice_short", 7 },
        { "mouseSettings", R"({"voice_key_long_click": 9})", false, "key_1st_voice_long", 1 },
        { "mouseSettings", R"({"auxiliary_click": "x"})", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"({"auxiliary_click": 1.5})", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"({"auxiliary_click": -1})", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"({"auxiliary_click": 1e300})", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"([{"auxiliary_click": 1}])", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"("auxiliary_click")", false, "key_1st_dpi", 2 },
        { "mouseSettings", R"({"unknown": 1})", false, nullptr, 0 },
        { "mouseSettings", R"({"wheel_button_long_click": "1"})", true, "key_1st_downAddress", 1 },
        { "aiSettings", R"({"dynamic_typing_click": "0"})", true, "key_2nd_dynamic_typing", 0 },
        { "aiSettings", R"({"dynamic_typing_click": 1})", true, "key_2nd_dynamic_typing", 1 },
        { "aiSettings", R"({"search_engines_click": "3"})", false, "key_2nd_searchEngineKey", 0 },
        { "aiSettings", R"({"scribe_translation_check_click": "1"})", true, "key_2nd_huaciOpen", 1 },
        { "aiSettings", R"({"system_auto_start_click": true})", false, "key_appstarup_2", 0 },
        { "aiSettings", R"({"system_auto_start_click": "1"})", true, "key_appstarup_2", 1 },
        { "aiSettings",
            R"({"speech_recognition_identify_language_click": 2, "speech_recognition_identify_language_name": 5})",
            false, nullptr, 0 },
    };
    MMJsModel model(services());
    QList<bool> huaci, startup;
    model.huaci = [&](bool on) { huaci << on; };
    model.startupBlock = [&](bool on) { startup << on; };
    for (const Case& c : cases) {
        const QJsonValue body = json(c.body);
        const bool applied = QString::fromUtf8(c.message) == MMJsModel::kMouseSettings
            ? model.saveWebConfig1stWebWithMsg(body)
            : model.saveWebConfig2ndWebWithMsg(body);
        EXPECT_EQ(applied, c.applied) << c.message << " " << c.body;
        if (c.key) {
            EXPECT_EQ(prefs.value(QString::fromUtf8(c.key)).toLongLong(), c.expected) << c.body;
        }
    }
    EXPECT_EQ(dpiSent, (QList<quint64> { 3, 2 }));
    EXPECT_EQ(popupSent, (QList<bool> { true }));
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(huaci, (QList<bool> { true }));
    EXPECT_EQ(startup, (QList<bool> { true }));
}

TEST_F(MMJsModelTest, LanguageChoiceStoresIndexNameAndCode)
{
    MMJsModel model(services());
    ASSERT_TRUE(model.saveWebConfig2ndWebWithMsg(json(R"({"speech_recognition_identify_language_click": "2",
        "speech_recognition_identify_language_name": "英语", "speech_recognition_identify_language_id": "en_us"})")));
    EXPECT_EQ(languages.indexTypingFrom(), 2u);
    EXPECT_EQ(languages.TypingFromName(), QStringLiteral("英语"));
    EXPECT_EQ(languages.TypingFromCode(), QStringLiteral("en_us"));
}

TEST_F(MMJsModelTest, CustomCommandsAreReplacedWholeOrNotAtAll)
{
    MMJsModel model(services());
    const QString tricky = QStringLiteral("say \"it's\" \\ \u2028 </script>");
    QJsonObject row { { "type", "url" }, { "word", tricky }, { "todo", "example.org" }, { "iconType", "url" },
        { "name", "x" } };
    const QString list
        = QString::fromUtf8(QJsonDocument(QJsonArray { row, row }).toJson(QJsonDocument::Compact));
    ASSERT_TRUE(model.saveCustomInstructionList(QJsonValue(list)));
    ASSERT_EQ(commands.getCustomCmdList().size(), 2);
    EXPECT_EQ(commands.getCustomCmdList().at(0).word(), tricky);

    const char* malformed[] = { R"("[{\"word\": \"a\"}, 3]")", R"("not json")", R"({"word": "a"})", R"(7)",
        R"([{"word": 5}])", R"([[]])" };
    for (const char* body : malformed) {
        EXPECT_FALSE(model.saveCustomInstructionList(json(body))) << body;
        EXPECT_EQ(commands.getCustomCmdList().size(), 2) << body;
    }
    ASSERT_TRUE(model.saveCustomInstructionList(json("[]")));
    EXPECT_TRUE(commands.getCustomCmdList().isEmpty());
}

TEST(IndicatorImageTest, BatteryLevelsAndPictures)
{
    const std::pair<float, long> cases[] = { { 100, 100 }, { 90, 100 }, { 89.99f, 90 }, { 50, 60 },
        { 9.99f, 10 }, { 0, 10 }, { -1, 0 }, { std::numeric_limits<float>::quiet_NaN(), 0 } };
    for (const auto& [percent, level] : cases)
        EXPECT_EQ(IndicatorImage::batteryLevel(percent), level) << percent;
    for (const char* name : { "battery0", "battery100", "connect_mode0", "connect_mode2", "disconnected" })
        EXPECT_FALSE(IndicatorImage::imageNamed(QString::fromUtf8(name)).isNull()) << name;
    EXPECT_TRUE(IndicatorImage::imageNamed(QStringLiteral("battery55")).isNull());
}

TEST(LoginItemTest, EnablingWritesAnAutostartEntryAndDisablingRemovesIt)
{
    fakes::TempHome home;
    platform::LoginItem item(home.path(), QStringLiteral("pravik"), QStringLiteral("PraVik"),
        QStringLiteral("/opt/pra vik/pravik"));
    EXPECT_FALSE(item.isEnabled());
    ASSERT_TRUE(item.setEnabled(true));
    QFile entry(home.path() + QStringLiteral("/autostart/pravik.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/pra vik/pravik\""))) << text.toStdString();
    EXPECT_TRUE(item.isEnabled());
    ASSERT_TRUE(item.setEnabled(false));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_TRUE(item.setEnabled(false));
}

// The controller without a browser: dispatch, notifications, gating.
class HomeControllerTest : public PagesFixture {
protected:
    platform::NotificationCenter center;
    fakes::VirtualTime time;
    std::shared_ptr<RecordingServices> windows = std::make_shared<RecordingServices>();
    fakes::FakePermissions permissions;
    fakes::FakeKeyTap keys;
    KeyEventTap tap { keys };
    MMHidManager classifier { user.webConfig(), time, time };
    int linkStarts = 0;
    QList<bool> loginItem;
    QStringList told; // "title: text" of each dialog the controller showed
    QStringList opened; // addresses handed to the browser
    QStringList sentScripts; // every page-function call, in order

    std::unique_ptr<UWHomeViewController> make(bool webView = false, bool checkPermissions = true)
    {
        UWHomeViewController::Environment environment;
        environment.pageServices = [this] { return services(); };
        environment.services = windows;
        environment.setLoginItem = [this](bool on) { loginItem << on; };
        environment.tell = [this](const QString& title, const QString& text) { told << title + QStringLiteral(": ") + text; };
        environment.openUrl = [this](const QString& address) { opened << address; };
        environment.pageCallSent = [this](const QString& script) { sentScripts << script; };
        environment.mainQueue = &time;
        environment.webView = webView;
        UWHomeViewController::StartupHooks hooks;
        if (checkPermissions)
            hooks.makePermissionCheck = [this] {
                return MMpermissionCheck::create({ permissions, tap, classifier, user.deviceInfo() });
            };
        hooks.startUsbWatcher = [this] { ++linkStarts; };
        auto controller = std::make_unique<UWHomeViewController>(database, hooks, center, environment);
        controller->view();
        return controller;
    }
};

TEST_F(HomeControllerTest, AllPermissionsGrantedStartsTheLinksOnceWithoutGuideOrTip)
{
    auto controller = make();
    EXPECT_EQ(linkStarts, 1);
    EXPECT_FALSE(controller->view()->tipBarVisible());
    EXPECT_EQ(controller->linkGate().guideWindowShows(), 0);
}

TEST_F(HomeControllerTest, RefusedPermissionWaitsUntilALaterCheckPasses)
{
    permissions.input = false;
    auto controller = make();
    EXPECT_EQ(linkStarts, 0);
    EXPECT_TRUE(controller->view()->tipBarVisible());
    EXPECT_EQ(controller->linkGate().guideWindowShows(), 1);
    ASSERT_NE(controller->linkGate().permissionWindow(), nullptr);
    EXPECT_EQ(controller->linkGate().permissionWindow()->rowsGranted(),
        (std::vector<bool> { false, false, false }));

    time.advance(1.0); // the guide's first poll: still refused
    EXPECT_EQ(
        controller->linkGate().permissionWindow()->rowsGranted(), (std::vector<bool> { false, true, true }));
    EXPECT_TRUE(controller->linkGate().permissionWindow()->polling());

    controller->permissionTipBtnAction(); // the tip bar's button: refused again
    EXPECT_EQ(controller->linkGate().guideWindowShows(), 2);
    EXPECT_EQ(linkStarts, 0);

    permissions.input = true; // the user installed the udev rule
    time.advance(1.0);
    EXPECT_FALSE(controller->linkGate().permissionWindow()->polling());
    EXPECT_FALSE(controller->view()->tipBarVisible());
    EXPECT_EQ(linkStarts, 1);
    time.advance(5.0);
    controller->permissionTipBtnAction();
    EXPECT_EQ(linkStarts, 1);
}

TEST_F(HomeControllerTest, AKeyTapTheSessionRefusedIsTriedAgainAtEachCheck)
{
    keys.setAvailable(false); // input access, but the tap cannot be installed
    auto controller = make();
    EXPECT_EQ(linkStarts, 1); // the three permissions are there
    EXPECT_TRUE(controller->view()->tipBarVisible());
    ASSERT_NE(controller->linkGate().permissionWindow(), nullptr);
    const int tries = keys.startCount();
    time.advance(1.0);
    EXPECT_GT(keys.startCount(), tries);
    EXPECT_TRUE(controller->linkGate().permissionWindow()->polling());
    keys.setAvailable(true);
    time.advance(1.0);
    EXPECT_TRUE(keys.started());
    EXPECT_FALSE(controller->linkGate().permissionWindow()->polling());
    EXPECT_FALSE(controller->view()->tipBarVisible());
}

TEST_F(HomeControllerTest, SelfAdaptionListsTheApplicationsAnewOffTheMainThread)
{
    auto controller = make();
    MMAppdataItem stale;
    stale.setName(QStringLiteral("Gone"));
    stale.setPath(QStringLiteral("file:///nowhere.desktop"));
    commands.requestCreateMyAppListCmd(stale, {});
    QDir(home.path()).mkpath(QStringLiteral("apps/applications"));
    // The notice is told in the interface language of the moment, whatever
    // an earlier test left.
    const quint64 before = KWLangManager::sharedManager().indexOfUI();
    KWLangManager::sharedManager().setIndexOfUI(1);
    languages.setIndexOfUI(1);
    // The count reads as a person would write it: one application, two applications.
    const struct {
        const char* name;
        const char* found;
    } cases[] = { { "Notes", "Found 1 application" }, { "Maps", "Found 2 applications" } };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        QFile entry(home.path() + QStringLiteral("/apps/applications/%1.desktop").arg(name.toLower()));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=" + name.toUtf8()
            + "\nExec=" + name.toLower().toUtf8() + "\n");
        entry.close();

        controller->userContentController(QStringLiteral("selfAdaption"), json(R"("")"));
        EXPECT_EQ(sentScripts.last(), QStringLiteral("goToPage('3','')"));
        // A spinner while the list is rebuilt ...
        ASSERT_NE(ArtProgressHUD::shared(), nullptr);
        EXPECT_EQ(ArtProgressHUD::shared()->alertType(), quint64(ArtProgressHUD::kLoading));
        QElapsedTimer clock;
        clock.start();
        while (!sentScripts.last().startsWith(QStringLiteral("indexLoading('["))
            && clock.elapsed() < 10000) {
            time.runPending();
            QCoreApplication::processEvents();
        }
        const QString sent = sentScripts.last();
        EXPECT_TRUE(sent.contains(name)) << sent.toStdString();
        EXPECT_FALSE(sent.contains(QStringLiteral("Gone"))) << sent.toStdString();
        // ... then how many were found, in the interface language.
        ArtProgressHUD* hud = ArtProgressHUD::shared();
        ASSERT_NE(hud, nullptr);
        EXPECT_EQ(hud->alertType(), quint64(ArtProgressHUD::kSuccess));
        EXPECT_EQ(hud->tipTextField()->text(), QString::fromUtf8(c.found));
        ArtProgressHUD::dismissLoading();
    }
    KWLangManager::sharedManager().setIndexOfUI(before);
}

TEST_F(HomeControllerTest, PageMessagesReachTheSettings)
{
    auto controller = make();
    int languageChanges = 0;
    auto token = center.addObserver(
        notifications::kHadChangeUILanguage, [&](const platform::Notification&) { ++languageChanges; });
    languages.setIndexOfUI(0);
    controller->userContentController(QStringLiteral("setSystemLanguage"), json("1"));
    EXPECT_EQ(languages.indexOfUI(), 1u);
    languages.setIndexOfUI(0);
    controller->userContentController(QStringLiteral("setSystemLanguage"), json(R"("1")"));
    EXPECT_EQ(languages.indexOfUI(), 1u);
    EXPECT_EQ(languageChanges, 2);
    controller->userContentController(QStringLiteral("setSystemLanguage"), json(R"("9")"));
    controller->userContentController(QStringLiteral("setSystemLanguage"), json(R"({"lang": 1})"));
    EXPECT_EQ(languageChanges, 2);
    EXPECT_EQ(controller->view()->menuTitles().at(0), QStringLiteral("Mouse Settings"));

    controller->userContentController(QStringLiteral("noSuchMessage"), json(R"({"auxiliary_click": 4})"));
    EXPECT_EQ(user.webConfig().fir_dpi(), 0u);
    controller->userContentController(QStringLiteral("mouseSettings"), json(R"({"auxiliary_click": 4})"));
    EXPECT_EQ(user.webConfig().fir_dpi(), 4u);
    controller->userContentController(
        QStringLiteral("aiSettings"), json(R"({"system_auto_start_click": "1"})"));
    controller->userContentController(
        QStringLiteral("aiSettings"), json(R"({"scribe_translation_check_click": 1})"));
    controller->userContentController(QStringLiteral("screenshotTranslationKey"), json(R"("")"));
    controller->userContentController(QStringLiteral("logExport"), json("null"));
    EXPECT_EQ(loginItem, (QList<bool> { true }));
    EXPECT_EQ(windows->calls, (QStringList { "startup check", "monitor on", "hotkey", "export" }));
}

// Each page message and notification that needs another window reaches the
// one it names, once; dialogs open over the main window, and the chosen
// target goes to the page.
TEST_F(HomeControllerTest, EachWindowRequestReachesItsWindowOnce)
{
    auto controller = make();
    EXPECT_EQ(windows->calls, (QStringList { "startup check" })) << "the update check runs at start-up";
    struct Case {
        const char* message; // page message, or empty for the notification
        QString notification;
        const char* body;
        QStringList expected;
    };
    const Case cases[] = {
        { "executionLocation", {}, "null", { "choose target" } },
        { "checkLevel", {}, "null", { "check version" } },
        { "screenshotTranslationKey", {}, R"("")", { "hotkey" } },
        { "logExport", {}, "null", { "export" } },
        { "aiSettings", {}, R"({"scribe_translation_check_click": 1})", { "monitor on" } },
        { "aiSettings", {}, R"({"scribe_translation_check_click": 0})", { "monitor off" } },
        { "", notifications::kHadOpenGPT, "", { "chat" } },
        { "", notifications::kHadSnipTrans, "", { "snip" } },
        { "", notifications::kHadCancelSnipTrans, "", { "cancel snip" } },
        { "", notifications::kHadReloadConnectImage, "", { "ble wait 1" } },
    };
    for (const Case& c : cases) {
        windows->calls.clear();
        windows->over = nullptr;
        if (c.notification.isEmpty())
            controller->userContentController(QString::fromUtf8(c.message), json(c.body));
        else if (c.notification == notifications::kHadReloadConnectImage)
            center.post(c.notification, QVariantMap { { "mode", 0 } });
        else
            center.post(c.notification);
        EXPECT_EQ(windows->calls, c.expected) << c.message << c.notification.toStdString();
        if (c.expected.first() == "choose target" || c.expected.first() == "export") {
            EXPECT_EQ(windows->over, controller->view()) << c.message;
        }
    }
    EXPECT_TRUE(sentScripts.contains(windows->chosenTarget));
}

TEST_F(HomeControllerTest, IndicatorsMenuAndLoadingFollowTheirNotifications)
{
    auto controller = make();
    user.deviceInfo().setSn(QStringLiteral("A1B2C3D4E5F6"));
    center.post(notifications::kHadReloadConnectImage, QVariantMap { { "mode", 2 } });
    EXPECT_EQ(controller->view()->connectImageName(), "connect_mode2");
    EXPECT_EQ(user.deviceInfo().sn(), "A1B2C3D4E5F6");
    user.deviceInfo().setBatteryfloat(90);
    user.deviceInfo().setBatteryPercentage(QStringLiteral("90%"));
    center.post(notifications::kHadReloadDianciImage);
    EXPECT_EQ(controller->view()->batteryImageName(), "battery100");
    const auto tr = [](const char* key) { return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key)); };
    // Words beside the pictures, in the interface language; the version once.
    EXPECT_EQ(controller->view()->batteryText(),
        tr("电量 %@").replace(QStringLiteral("%@"), QStringLiteral("90%")));
    EXPECT_EQ(controller->view()->connectText(), tr("蓝牙"));
    EXPECT_EQ(controller->view()->versionText(), tr("版本号") + QStringLiteral(": 1.0.0"));
    const quint64 interfaceLanguage = KWLangManager::sharedManager().indexOfUI();
    const QString build = QCoreApplication::applicationVersion();
    KWLangManager::sharedManager().setIndexOfUI(0);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.42"));
    center.post(notifications::kHadChangeUILanguage);
    EXPECT_EQ(controller->view()->batteryText(), QStringLiteral("电量 90%"));
    EXPECT_EQ(controller->view()->connectText(), QStringLiteral("蓝牙"));
    EXPECT_EQ(controller->view()->versionText(), QStringLiteral("版本号: 1.0.0 (1.0.0.42)"));
    KWLangManager::sharedManager().setIndexOfUI(interfaceLanguage);
    QCoreApplication::setApplicationVersion(build);
    center.post(notifications::kHadChangeUILanguage);
    center.post(notifications::kHadReloadConnectImage, QVariantMap { { "mode", 0 } });
    EXPECT_EQ(controller->view()->connectImageName(), "connect_mode0");
    EXPECT_EQ(controller->view()->batteryImageName(), "disconnected");
    EXPECT_EQ(controller->view()->batteryText(), "");
    EXPECT_EQ(controller->view()->connectText(), tr("未连接鼠标"));
    EXPECT_EQ(user.deviceInfo().sn(), "");
    EXPECT_TRUE(windows->calls.contains("ble wait 1"));

    center.post(notifications::kGetMyApp, QStringLiteral("Other"));
    EXPECT_FALSE(controller->view()->loadingViewVisible());
    center.post(notifications::kGetMyApp, QStringLiteral("Begin"));
    EXPECT_TRUE(controller->view()->loadingViewVisible());
    center.post(notifications::kReloadMyAppNumbersOneByOne, QVariantMap { { "idx", 7 } });
    EXPECT_TRUE(controller->view()->loadingText().endsWith(QStringLiteral(".. 7")));
    // The link coming and going told the mouse page (its settings wait for a mouse).
    ASSERT_EQ(sentScripts.size(), 2);
    for (const QString& script : sentScripts) {
        EXPECT_TRUE(script.startsWith(QStringLiteral("indexLoading('{"))) << script.toStdString();
    }
    controller->tableViewSelectionDidChange(0); // already selected: nothing sent, overlay stays
    EXPECT_TRUE(controller->view()->loadingViewVisible());
    EXPECT_EQ(sentScripts.size(), 2);
    controller->tableViewSelectionDidChange(4);
    EXPECT_FALSE(controller->view()->loadingViewVisible());
    ASSERT_EQ(sentScripts.size(), 3);
    EXPECT_TRUE(sentScripts.at(2).startsWith(QStringLiteral("goToPage('4','{")));

    controller->tableViewSelectionDidChange(2); // no custom commands: only the page switch
    time.advance(1.0);
    EXPECT_EQ(sentScripts.last(), QStringLiteral("goToPage('2','')"));
    center.post(notifications::kHadProductConnected);
    EXPECT_EQ(sentScripts.last(), QStringLiteral("indexLoading('')"));
    MMCustomCmdItem command;
    command.setWord(QStringLiteral("news"));
    command.setTodo(QStringLiteral("example.org"));
    commands.requestCreateCustomCmd(command, {});
    controller->tableViewSelectionDidChange(0);
    controller->tableViewSelectionDidChange(2); // the list follows 0.3 s after the page switch
    EXPECT_EQ(sentScripts.last(), QStringLiteral("goToPage('2','')"));
    time.advance(0.29);
    EXPECT_EQ(sentScripts.last(), QStringLiteral("goToPage('2','')"));
    time.advance(0.02);
    EXPECT_EQ(sentScripts.last(),
        QStringLiteral("indexLoading('[{\\u0022todo\\u0022:\\u0022example.org\\u0022,\\u0022word\\u0022:"
                       "\\u0022news\\u0022}]')"));
}

// "?" opens the manual from the back end; without a usable back end it says
// why there is none, every time it is pressed.
TEST_F(HomeControllerTest, TheManualButtonOpensTheManualOrSaysWhyNot)
{
    const QByteArray saved = qgetenv(BackendAddress::kEnvironmentVariable);
    auto controller = make();
    QPushButton* manual = nullptr;
    for (QPushButton* button : controller->view()->findChildren<QPushButton*>()) {
        if (button->property("toolTipKey").toString() == QStringLiteral("使用手册"))
            manual = button;
    }
    ASSERT_NE(manual, nullptr);
    const QString title = LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("使用手册"));
    const struct {
        const char* backend;
        QString told; // empty: the manual is opened
        const char* opened;
    } cases[] = {
        { "", title + QStringLiteral(": ") + NoticeTexts::manualNeedsBackend(QStringLiteral("PRAVIK_BACKEND_URL"), QStringLiteral("BackendBaseURL")), "" },
        { "", title + QStringLiteral(": ") + NoticeTexts::manualNeedsBackend(QStringLiteral("PRAVIK_BACKEND_URL"), QStringLiteral("BackendBaseURL")), "" },
        { "backend.example.org", title + QStringLiteral(": ") + NoticeTexts::backendInvalid(QStringLiteral("backend.example.org")), "" },
        { "http://127.0.0.1:8080/", QString(), "http://127.0.0.1:8080/manual/KZ-31.html" },
    };
    for (const auto& c : cases) {
        qputenv(BackendAddress::kEnvironmentVariable, c.backend);
        told.clear();
        opened.clear();
        manual->click();
        EXPECT_EQ(told, c.told.isEmpty() ? QStringList() : QStringList { c.told }) << c.backend;
        EXPECT_EQ(opened, *c.opened ? QStringList { QString::fromUtf8(c.opened) } : QStringList()) << c.backend;
    }
    if (saved.isNull())
        qunsetenv(BackendAddress::kEnvironmentVariable);
    else
        qputenv(BackendAddress::kEnvironmentVariable, saved);
}

// The model asks for the dynamic-typing notice; page services that bring no
// way to show it get the controller's dialog, in the interface language.
TEST_F(HomeControllerTest, TheDynamicTypingNoticeIsADialogInTheInterfaceLanguage)
{
    KWLangManager& shared = KWLangManager::sharedManager();
    const quint64 language = shared.indexOfUI();
    shared.setIndexOfUI(1);
    UWHomeViewController::Environment environment;
    environment.pageServices = [this] {
        MMJsModel::Services pageServices = services();
        pageServices.showDynamicTypingNotice = nullptr;
        return pageServices;
    };
    environment.mainQueue = &time;
    environment.webView = false;
    UWHomeViewController controller(database, {}, center, environment);
    controller.view();
    const QWidgetList before = QApplication::topLevelWidgets(); // earlier tests may leave boxes open
    controller.userContentController(QStringLiteral("aiSettings"), json(R"({"dynamic_typing_click": 1})"));
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* candidate = qobject_cast<QMessageBox*>(widget);
            candidate && candidate->isVisible() && !before.contains(candidate))
            box = candidate;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), LGNLocalizedString::lgnAppLocalizedString(MMJsModel::kNoticeTitle));
    EXPECT_NE(box->informativeText(), MMJsModel::kNoticeText); // translated
    EXPECT_EQ(box->buttons().size(), 2);
    box->buttons().at(0)->click();
    EXPECT_FALSE(box->isVisible());
    shared.setIndexOfUI(language);
}

// The pages in the browser engine.
class PagesInBrowserTest : public HomeControllerTest {
protected:
    static bool waitFor(const std::function<bool()>& done, int milliseconds = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < milliseconds) {
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return done();
    }

    static QVariant evaluate(UWHomeViewController& controller, const QString& script)
    {
        QVariant result;
        bool finished = false;
        controller.webView()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value;
            finished = true;
        });
        waitFor([&] { return finished; });
        return result;
    }
};

TEST_F(PagesInBrowserTest, PagesLoadRenderAndPostTheirChanges)
{
    user.deviceInfo().setDeviceConnectionMode(4); // a mouse is connected: its settings can be changed
    auto controller = make(true);
    ASSERT_NE(controller->webView(), nullptr);
    const auto loaded = [&] { return sentScripts.size() >= 2 && sentScripts.last().startsWith("init("); };
    ASSERT_TRUE(waitFor(loaded));
    EXPECT_TRUE(sentScripts.at(0).startsWith("indexLoading('{"));
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));

    // A click in the page posts the message and the dispatcher applies it.
    evaluate(*controller, "document.querySelector('[data-key=auxiliary_click] button[value=\"3\"]').click()");
    EXPECT_TRUE(waitFor([&] { return user.webConfig().fir_dpi() == 3; }));
    EXPECT_EQ(dpiSent.last(), 3u);
    evaluate(*controller,
        "var s = document.querySelector('select[data-key=voice_key_short_click]'); s.value = '4';"
        "s.dispatchEvent(new Event('change'))");
    EXPECT_TRUE(waitFor([&] { return user.webConfig().fir_voice_short() == 4; }));

    // Data with quotes, backslashes and U+2028 reaches the page intact.
    user.deviceInfo().setProductModelString(QStringLiteral("Model \"A\" \\ it's\u2028</script>"));
    center.post(notifications::kHadProductConnected);
    EXPECT_TRUE(waitFor([&] {
        return evaluate(*controller, "document.getElementById('productModel').textContent").toString()
            == QStringLiteral("Model \"A\" \\ it's\u2028</script>");
    }));

    // Custom commands: added in the page, stored; a malformed list changes nothing.
    controller->tableViewSelectionDidChange(2);
    evaluate(*controller,
        "document.getElementById('newWord').value = 'notes \\'x\\'';"
        "document.getElementById('newTarget').value = 'example.org';"
        "document.getElementById('addCommand').click()");
    EXPECT_TRUE(waitFor([&] { return commands.getCustomCmdList().size() == 1; }));
    evaluate(
        *controller, "window.webkit.messageHandlers.refreshInstructionData.postMessage('[{\"word\": 1}]')");
    EXPECT_TRUE(evaluate(*controller, "window.webkit.messageHandlers.noSuchThing === undefined").toBool())
        << "a page sees only the handlers of the registered names";
    evaluate(*controller, "window.webkit.messageHandlers.mouseSettings.postMessage([1, 2])");
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    ASSERT_EQ(commands.getCustomCmdList().size(), 1);
    EXPECT_EQ(commands.getCustomCmdList().at(0).word(), QStringLiteral("notes 'x'"));

    // The application list arrives from the listing thread and is drawn.
    MMAppdataItem app;
    app.setName(QStringLiteral("Notes <b>&amp;</b>"));
    app.setPath(QStringLiteral("file:///usr/share/applications/notes.desktop"));
    app.setCmdword(QStringLiteral("open Notes"));
    commands.requestCreateMyAppListCmd(app, {});
    controller->tableViewSelectionDidChange(3);
    EXPECT_TRUE(waitFor([&] {
        time.runPending();
        return evaluate(*controller, "document.querySelector('#appTable tbody').textContent").toString()
            == QStringLiteral("Notes <b>&amp;</b>open Notes");
    }));

    // The software page shows its object.
    user.deviceInfo().setSn(QStringLiteral("A1B2C3D4E5F6"));
    controller->tableViewSelectionDidChange(4);
    EXPECT_TRUE(waitFor([&] {
        return evaluate(*controller, "document.getElementById('deviceSN').textContent").toString()
            == "A1B2C3D4E5F6";
    }));

    // The language switch in the page, and a reload sends the first data again.
    evaluate(*controller,
        "var l = document.getElementById('systemLanguage'); l.value = '3';"
        "l.dispatchEvent(new Event('change'))");
    EXPECT_TRUE(waitFor([&] { return languages.indexOfUI() == 3; }));
    const qsizetype before = sentScripts.size();
    controller->webView()->reload();
    EXPECT_TRUE(waitFor([&] { return sentScripts.size() >= before + 2 && loaded(); }));
}

// What the pages show comes only from what the application sent whole: a
// call with nothing in it, the data of another page, or the application list
// arriving late never blanks a page, and an add stores the whole list.
TEST_F(PagesInBrowserTest, NoCallBlanksAPageOrTruncatesTheStoredCommands)
{
    for (const char* word : { "alpha", "beta" }) {
        MMCustomCmdItem command;
        command.setType(QStringLiteral("url"));
        command.setWord(QString::fromUtf8(word));
        command.setTodo(QStringLiteral("example.org/") + QString::fromUtf8(word));
        commands.requestCreateCustomCmd(command, {});
    }
    MMAppdataItem app;
    app.setName(QStringLiteral("Notes"));
    app.setPath(QStringLiteral("file:///usr/share/applications/notes.desktop"));
    // The word as the application makes it in the interface language (a
    // list with another language's word is built again).
    const QString openNotes = LGNLocalizedString::lgnAppLocalizedString(UWHomeViewModel::kOpenWordKey) + QStringLiteral("Notes");
    app.setCmdword(openNotes);
    commands.requestCreateMyAppListCmd(app, {});
    user.deviceInfo().setSn(QStringLiteral("A1B2C3D4E5F6"));

    auto controller = make(true);
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));
    const auto rows = [&] {
        return evaluate(*controller,
            "Array.prototype.map.call(document.querySelectorAll('#commandTable tbody tr'),"
            " function (r) { return r.cells[0].textContent; }).join(',')")
            .toString();
    };
    const auto storedWords = [&] {
        QStringList words;
        for (const MMCustomCmdItem& item : commands.getCustomCmdList())
            words << item.word();
        return words.join(u',');
    };
    const auto add = [&](const char* word) {
        evaluate(*controller,
            QStringLiteral("document.getElementById('newWord').value = '%1';"
                           "document.getElementById('newTarget').value = 'example.org/%1';"
                           "document.getElementById('addCommand').click()")
                .arg(QString::fromUtf8(word)));
    };

    // The applications' page asks for its list; the user moves on to the
    // custom commands before it arrives.
    controller->tableViewSelectionDidChange(3);
    controller->tableViewSelectionDidChange(2);
    time.advance(0.31);
    ASSERT_TRUE(waitFor([&] { return rows() == "alpha,beta"; })) << rows().toStdString();
    // Other page data may follow the late list (the mouse's link state), so
    // any script sent may be the one that carried it.
    ASSERT_TRUE(waitFor([&] {
        time.runPending();
        const QStringList sent = sentScripts;
        return std::any_of(sent.begin(), sent.end(),
            [&openNotes](const QString& script) { return script.contains(openNotes); });
    }));
    EXPECT_EQ(rows(), "alpha,beta") << "the late application list is not the custom commands";

    // The mouse connects: the page of index 2 gets an empty call.
    center.post(notifications::kHadProductConnected);
    EXPECT_EQ(sentScripts.last(), QStringLiteral("indexLoading('')"));
    EXPECT_EQ(rows(), "alpha,beta");
    add("gamma");
    EXPECT_TRUE(waitFor([&] { return storedWords() == "alpha,beta,gamma"; })) << storedWords().toStdString();

    // The software page keeps its serial when the AI page's data is sent
    // again (a new hot key) and when an empty call arrives.
    controller->tableViewSelectionDidChange(4);
    ASSERT_TRUE(waitFor([&] {
        return evaluate(*controller, "document.getElementById('deviceSN').textContent").toString() == "A1B2C3D4E5F6";
    }));
    center.post(notifications::kHadNewOCRHotkey);
    evaluate(*controller, "indexLoading('')");
    EXPECT_EQ(evaluate(*controller, "document.getElementById('deviceSN').textContent").toString(), "A1B2C3D4E5F6");

    // Back on the commands: the list the page holds is still whole.
    controller->tableViewSelectionDidChange(2);
    time.advance(0.31);
    add("delta");
    EXPECT_TRUE(waitFor([&] { return storedWords() == "alpha,beta,gamma,delta"; })) << storedWords().toStdString();
}

// The language list of the software page shows the new choice at once.
TEST_F(PagesInBrowserTest, TheInterfaceLanguageListShowsTheNewChoice)
{
    languages.setIndexOfUI(1);
    auto controller = make(true);
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));
    controller->tableViewSelectionDidChange(4);
    ASSERT_TRUE(waitFor([&] {
        return evaluate(*controller, "document.getElementById('appVersion').textContent").toString() != "";
    }));
    EXPECT_EQ(evaluate(*controller, "document.getElementById('systemLanguage').value").toString(), "1");
    evaluate(*controller,
        "var l = document.getElementById('systemLanguage'); l.value = '4';"
        "l.dispatchEvent(new Event('change'))");
    EXPECT_TRUE(waitFor([&] { return languages.indexOfUI() == 4; }));
    EXPECT_EQ(evaluate(*controller, "document.getElementById('systemLanguage').value").toString(), "4");
    EXPECT_EQ(evaluate(*controller, "document.querySelector('#page-4 h1').textContent").toString(),
        QStringLiteral("앱 설정"));
}

// The AI page shows the hot key as this desktop writes it, whatever form the
// settings keep. With PRAVIK_DEMO_DIR set the page is saved there.
TEST_F(PagesInBrowserTest, TheAiPageShowsTheHotKeyInThisDesktopsWords)
{
    ASSERT_EQ(user.webConfig().sec_ocr_ShortcutKey(), QStringLiteral("⌘ + 3"));
    auto controller = make(true);
    controller->view()->resize(1080, 700);
    controller->view()->show();
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));
    controller->tableViewSelectionDidChange(1);
    const auto shown = [&] { return evaluate(*controller, "document.getElementById('hotKey').textContent").toString(); };
    EXPECT_TRUE(waitFor([&] { return shown() == QStringLiteral("Ctrl+3"); })) << shown().toStdString();

    // A new key from the recorder: the settings keep the signs, the page is told again.
    user.webConfig().setSec_ocr_ShortcutKey(QStringLiteral("⇧ + ⌘ + F + 5"));
    center.post(notifications::kHadNewOCRHotkey);
    EXPECT_TRUE(waitFor([&] { return shown() == QStringLiteral("Ctrl+Shift+F5"); })) << shown().toStdString();

    if (const QString demo = qEnvironmentVariable("PRAVIK_DEMO_DIR"); !demo.isEmpty()) {
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        QWidget* window = controller->view()->window();
        QScreen* screen = window->screen();
        ASSERT_TRUE(screen);
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                        .save(demo + QStringLiteral("/ai-page.png")));
    }
}


// The custom-command form: what it stores, what it refuses and says why,
// the kind that follows a chosen target, and a stored list shown at once.
TEST_F(PagesInBrowserTest, TheCustomCommandFormSaysWhatItDid)
{
    MMCustomCmdItem stored;
    stored.setType(QStringLiteral("url"));
    stored.setWord(QStringLiteral("News"));
    stored.setTodo(QStringLiteral("https://news.example.org"));
    commands.requestCreateCustomCmd(stored, {});
    languages.setIndexOfUI(1);

    auto controller = make(true);
    ASSERT_TRUE(waitFor([&] { return !sentScripts.isEmpty() && sentScripts.last().startsWith("init("); }));
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));

    // Before the delayed list arrives the page already shows the stored one.
    controller->tableViewSelectionDidChange(2);
    ASSERT_TRUE(waitFor([&] {
        return evaluate(*controller, "document.getElementById('page-2').classList.contains('active')").toBool();
    }));
    EXPECT_EQ(
        evaluate(*controller, "document.querySelector('#commandTable tbody').textContent").toString().toStdString(),
        "Newshttps://news.example.orgWeb addressRemove");
    EXPECT_EQ(evaluate(*controller, "getComputedStyle(document.getElementById('commandEmpty')).display").toString(),
        "none");
    time.advance(0.31);

    const auto storedTargets = [&] {
        QStringList targets;
        for (const MMCustomCmdItem& item : commands.getCustomCmdList())
            targets << item.word() + u'=' + item.todo();
        return targets.join(u',');
    };
    const struct {
        const char* word;
        const char* type;
        const char* target;
        const char* error; // shown under the form; empty when the command is added
        const char* stored; // the whole stored list afterwards
    } cases[] = {
        { "", "url", "", "Enter the command word and the web address, file or folder it opens.",
            "News=https://news.example.org" },
        { "mail", "url", "", "Enter a web address, or click Choose… to pick a file or folder.",
            "News=https://news.example.org" },
        { "", "url", "example.org", "Enter the command word to say.", "News=https://news.example.org" },
        { " news ", "url", "example.org", "\"news\" is already a command word. Choose another word.",
            "News=https://news.example.org" },
        { "bad", "url", "not an address", "This is not a web address. Enter one like example.com.",
            "News=https://news.example.org" },
        { "shop", "url", "shop.example.org/cart", "",
            "News=https://news.example.org,shop=https://shop.example.org/cart" },
        { "ftp", "url", "ftp://files.example.org", "",
            "News=https://news.example.org,shop=https://shop.example.org/cart,ftp=ftp://files.example.org" },
    };
    for (const auto& c : cases) {
        evaluate(*controller,
            QStringLiteral("document.getElementById('newWord').value = %1;"
                           "document.getElementById('newType').value = %2;"
                           "document.getElementById('newTarget').value = %3;"
                           "document.getElementById('addCommand').click()")
                .arg(ScriptMessageBridge::stringLiteral(QString::fromUtf8(c.word)),
                    ScriptMessageBridge::stringLiteral(QString::fromUtf8(c.type)),
                    ScriptMessageBridge::stringLiteral(QString::fromUtf8(c.target))));
        EXPECT_TRUE(waitFor([&] { return storedTargets() == QString::fromUtf8(c.stored); }, 2000))
            << c.word << " " << c.target << ": " << storedTargets().toStdString();
        const QString error = evaluate(*controller,
            "var e = document.getElementById('addError');"
            "getComputedStyle(e).display === 'none' ? '' : e.textContent")
                                  .toString();
        EXPECT_EQ(error, QString::fromUtf8(c.error)) << c.word << " " << c.target;
    }

    // A chosen file or folder sets the kind to match.
    const struct {
        const char* chosen;
        const char* kind;
    } chosen[] = { { "file:///home/me/My Music/", "folder" }, { "file:///home/me/notes.txt", "file" } };
    for (const auto& c : chosen) {
        windows->chosenTarget = TargetChooser::pageScript(QString::fromUtf8(c.chosen));
        evaluate(*controller, "document.getElementById('newType').value = 'url';"
                              "document.getElementById('chooseTarget').click()");
        EXPECT_TRUE(waitFor([&] {
            return evaluate(*controller, "document.getElementById('newTarget').value").toString()
                == QString::fromUtf8(c.chosen);
        }));
        EXPECT_EQ(evaluate(*controller, "document.getElementById('newType').value").toString(), c.kind);
    }

    // The complaint follows a language change.
    evaluate(*controller, "document.getElementById('newWord').value = '';"
                          "document.getElementById('addCommand').click()");
    evaluate(*controller,
        "var l = document.getElementById('systemLanguage'); l.value = '0'; l.dispatchEvent(new Event('change'))");
    EXPECT_EQ(evaluate(*controller, "document.getElementById('addError').textContent").toString(),
        QStringLiteral("请输入指令词"));
}

// The settings kept in the mouse wait for one, and say so; the key
// functions are kept by the application and say when they apply.
TEST_F(PagesInBrowserTest, MouseSettingsSayTheyWaitForAMouse)
{
    auto controller = make(true);
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));
    const auto state = [&] {
        return evaluate(*controller,
            "['keysWaiting', 'pointerWaiting'].map(function (id) {"
            "  var e = document.getElementById(id); return getComputedStyle(e).display === 'none' ? '-' : e.textContent;"
            "}).concat(Array.prototype.map.call("
            "  document.querySelectorAll('[data-key=auxiliary_click] button, input[data-key=wheel_button_long_click]'),"
            "  function (c) { return c.disabled ? 'off' : 'on'; })).join('|')")
            .toString();
    };
    const QString waiting = QStringLiteral("No mouse connected: the key functions are saved and work as soon as a mouse "
                                           "is connected.|No mouse connected: the pointer speed and the wheel setting "
                                           "are kept in the mouse. Connect it to change them.|off|off|off|off|off|off");
    ASSERT_TRUE(waitFor([&] { return state() == waiting; })) << state().toStdString();

    // A press on a waiting control changes nothing.
    evaluate(*controller, "document.querySelector('[data-key=auxiliary_click] button[value=\"3\"]').click()");
    EXPECT_TRUE(dpiSent.isEmpty());

    // The links tell the connection as they set it.
    user.deviceInfo().setDeviceConnectionMode(4);
    center.post(notifications::kHadReloadConnectImage, QVariantMap { { "mode", 4 } });
    EXPECT_TRUE(waitFor([&] { return state() == "-|-|on|on|on|on|on|on"; })) << state().toStdString();
    user.deviceInfo().setDeviceConnectionMode(0);
    center.post(notifications::kHadReloadConnectImage, QVariantMap { { "mode", 0 } });
    EXPECT_TRUE(waitFor([&] { return state() == waiting; })) << state().toStdString();
}

// Pictures of the main window for a person to look at (PRAVIK_SHOT_DIR, and
// PRAVIK_SHOT_LANG for the interface language): three notices, the status
// box without a mouse, the mouse page waiting for one, the command form
// refusing a word.
TEST_F(PagesInBrowserTest, PicturesOfTheMainWindow)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    const quint64 language = fakes::screenShotLanguage();
    const quint64 before = KWLangManager::sharedManager().indexOfUI();
    KWLangManager::sharedManager().setIndexOfUI(language);
    languages.setIndexOfUI(language);
    platform::UserNotices::shared().resetForTesting();
    BackendAddress::checkUsable(QString());
    BackendAddress::checkUsable(QStringLiteral("backend.example.org"));
    ChatPortalAddress::reportNotConfigured();
    MMCustomCmdItem stored;
    stored.setType(QStringLiteral("url"));
    stored.setWord(QStringLiteral("News"));
    stored.setTodo(QStringLiteral("https://news.example.org"));
    commands.requestCreateCustomCmd(stored, {});

    auto controller = make(true);
    controller->view()->resize(1080, 700);
    controller->view()->show();
    ASSERT_TRUE(waitFor([&] { return evaluate(*controller, "typeof goToPage").toString() == "function"; }));
    const QString suffix = fakes::screenShotLanguageName();
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("main-mouse-") + suffix).isEmpty());

    controller->tableViewSelectionDidChange(2);
    time.advance(0.31);
    evaluate(*controller, "document.getElementById('newWord').value = 'news';"
                          "document.getElementById('newTarget').value = 'example.org';"
                          "document.getElementById('addCommand').click()");
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("main-commands-") + suffix).isEmpty());
    platform::UserNotices::shared().resetForTesting();
    KWLangManager::sharedManager().setIndexOfUI(before);
}

} // namespace settingspages
