#include "ui/UWHomeViewController.h"

#include "core/AppDelegate.h"
#include "core/ArtProgressHUD.h"
#include "core/BackendAddress.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "core/NoticeTexts.h"
#include "core/Notifications.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "ui/ApplicationServices.h"
#include "ui/CommandTables.h"
#include "ui/DeviceLinkGate.h"
#include "ui/NoticeArea.h"
#include "ui/SettingsPagesHost.h"
#include "voice/UWHomeViewModel.h"

#include <QDesktopServices>
#include <QUrl>

namespace home {

// Told when "Find applications again" ends; %1 is how many were found. One
// application has a text of its own, for the languages whose noun then
// takes the singular.
const QString kOneApplicationFoundKey = QStringLiteral("已找到 1 个应用");
const QString kApplicationsFoundKey = QStringLiteral("已找到 %1 个应用");
const QString kManual = QStringLiteral("使用手册");
const QString kConfirm = QStringLiteral("确认");
const QString kManualPath = QStringLiteral("/manual/KZ-31.html");
const QString kMode = QStringLiteral("mode");
constexpr double kCustomListDelay = 0.3;

} // namespace home

const QStringList& UWHomeViewController::messageNames()
{
    static const QStringList names { MMJsModel::kMouseSettings, MMJsModel::kAiSettings,
        MMJsModel::kSelfAdaption, MMJsModel::kRefreshInstructionData, MMJsModel::kExecutionLocation,
        MMJsModel::kCheckLevel, MMJsModel::kSetSystemLanguage, MMJsModel::kScreenshotTranslationKey,
        MMJsModel::kLogExport };
    return names;
}

UWHomeViewController::UWHomeViewController(HRPSqliteOperation& database, StartupHooks hooks,
    platform::NotificationCenter& center, Environment environment)
    : database_(database)
    , hooks_(std::move(hooks))
    , center_(center)
    , environment_(std::move(environment))
{
    const auto started = [this](const std::function<void()>& start, const QString& step) {
        return [this, start, step] {
            if (start)
                start();
            startupLog_ << step;
        };
    };
    gate_ = std::make_unique<DeviceLinkGate>(
        DeviceLinkGate::Hooks { hooks_.makePermissionCheck,
            started(hooks_.startUsbWatcher, QStringLiteral("receiver")),
            started(hooks_.startBluetoothLink, QStringLiteral("bluetooth")),
            [this](const QString& key) {
                if (view_)
                    view_->showTip(key);
            } },
        mainQueue(), center_);
}

UWHomeViewController::~UWHomeViewController()
{
    *alive_ = false;
    observers_.clear();
    gate_.reset();
    if (view_ && !view_->parent())
        delete view_;
}

UWHomeView* UWHomeViewController::view()
{
    if (!view_)
        viewDidLoad();
    return view_;
}

platform::Executor& UWHomeViewController::mainQueue()
{
    return environment_.mainQueue ? *environment_.mainQueue : platform::MainQueue::shared();
}

MMJsModel& UWHomeViewController::jsModel()
{
    return *jsModelShared();
}

std::shared_ptr<MMJsModel> UWHomeViewController::jsModelShared()
{
    if (!jsModel_) {
        std::weak_ptr<bool> alive = alive_;
        MMJsModel::Services pageServices
            = environment_.pageServices ? environment_.pageServices() : MMJsModel::sharedServices();
        if (!pageServices.showDynamicTypingNotice) {
            pageServices.showDynamicTypingNotice = [this, alive] {
                if (!alive.expired())
                    showDynamicTypingNotice();
            };
        }
        jsModel_ = std::make_shared<MMJsModel>(std::move(pageServices));
        jsModel_->huaci = [this, alive](bool on) {
            if (alive.expired())
                return;
            if (ApplicationServices* services = environment_.services.get())
                services->setSelectionMonitor(on);
            refreshUIData();
        };
        jsModel_->startupBlock = [this, alive](bool on) {
            if (!alive.expired())
                startupAppWhenLoginWithStartup(on);
        };
    }
    return jsModel_;
}

void UWHomeViewController::viewDidLoad()
{
    init_ui();
    startupLog_ << QStringLiteral("view");
    init_data();
}

void UWHomeViewController::init_ui()
{
    view_ = new UWHomeView({ [this](int row) { tableViewSelectionDidChange(row); },
        [this] { manualButtonAction(); }, [this] { permissionTipBtnAction(); } });
    if (!environment_.webView)
        return;
    pages_ = std::make_unique<SettingsPagesHost>(*view_, mainQueue(), messageNames(), environment_.pagesFolder,
        SettingsPagesHost::Hooks {
            [this](const QString& name, const QJsonValue& body) { userContentController(name, body); },
            [this] {
                // A page built again starts on its first page: so does the menu.
                selectedIndex_ = 0;
                view_->markRow(0);
            },
            [this] { webViewDidFinishNavigation(); } },
        startsHidden_);
}

void UWHomeViewController::manualButtonAction()
{
    const QString backend = BackendAddress::configured();
    const QString title = LGNLocalizedString::lgnAppLocalizedString(home::kManual);
    // The manual is served by the back end: without a usable address the
    // click says so (the notice at the top may have been dismissed).
    switch (BackendAddress::stateOf(backend)) {
    case BackendAddress::State::Usable:
        break;
    case BackendAddress::State::NotConfigured:
        tell(title,
            NoticeTexts::manualNeedsBackend(
                QString::fromLatin1(BackendAddress::kEnvironmentVariable), BackendAddress::kPreferenceKey));
        return;
    case BackendAddress::State::Invalid:
        tell(title, NoticeTexts::backendInvalid(backend));
        return;
    }
    const QString address = QUrl(backend).resolved(QUrl(home::kManualPath)).toString();
    if (environment_.openUrl)
        environment_.openUrl(address);
    else
        QDesktopServices::openUrl(QUrl(address));
}

void UWHomeViewController::whenReadyToShow(std::function<void()> show)
{
    if (pages_)
        pages_->whenReady(std::move(show));
    else
        show();
}

QStringList UWHomeViewController::noticeTexts() const
{
    return view_ ? view_->notices()->texts() : QStringList();
}

void UWHomeViewController::init_data()
{
    CommandTables::open(database_);
    startupLog_ << QStringLiteral("tables");
    if (hooks_.watchPermissions) {
        std::weak_ptr<bool> alive = alive_;
        hooks_.watchPermissions([this, alive] {
            if (!alive.expired())
                gate_->checkPermission(false);
        });
    }
    gate_->checkPermission();
    startupLog_ << QStringLiteral("permissions");
    somethingNetWork();
    if (hooks_.beginMouseMonitor)
        hooks_.beginMouseMonitor();
    startupLog_ << QStringLiteral("press codes");
    init_noti();
    startupLog_ << QStringLiteral("observers");
}

// Asks the back end whether a newer version exists; the update window opens only for one.
void UWHomeViewController::somethingNetWork()
{
    withServices(&ApplicationServices::checkVersion);
    startupLog_ << QStringLiteral("update check");
}

void UWHomeViewController::withServices(void (ApplicationServices::*call)())
{
    if (ApplicationServices* services = environment_.services.get())
        (services->*call)();
}

void UWHomeViewController::permissionTipBtnAction()
{
    // Asked for: the guide opens whatever is missing, to show how to add it.
    gate_->checkPermission(false);
    gate_->showpermissionCheckWindow();
}

void UWHomeViewController::init_noti()
{
    using platform::Notification;
    const auto observe = [this](const QString& name, std::function<void(const Notification&)> handler) {
        observers_.push_back(center_.addObserver(name, std::move(handler)));
    };
    // Loading notifications may come from the thread that lists applications.
    const auto onMain = [this](std::function<void()> work) {
        if (platform::MainQueue::isMainThread()) {
            work();
            return;
        }
        std::weak_ptr<bool> alive = alive_;
        platform::MainQueue::shared().async([alive, work] {
            if (!alive.expired())
                work();
        });
    };
    observe(notifications::kHadOpenGPT,
        [this](const Notification&) { withServices(&ApplicationServices::showChatWindow); });
    observe(notifications::kHadProductConnected,
        [this](const Notification&) { js_ocSendMsgWithString(jsModel().reloadWithIndex(selectedIndex_)); });
    observe(notifications::kHadNewOCRHotkey,
        [this](const Notification&) { js_ocSendMsgWithString(jsModel().reloadWithIndex(1)); });
    observe(notifications::kHadUSBShutdownInfo,
        [this](const Notification&) { js_ocSendMsgWithString(jsModel().reloadWithIndex(1)); });
    observe(notifications::kGetMyApp, [this, onMain](const Notification& note) {
        const QString object
            = note.object.typeId() == QMetaType::QString ? note.object.toString() : QString();
        onMain([this, object] {
            if (!view_)
                return;
            if (object == UWHomeViewModel::kGetMyAppBegin)
                view_->showLoading();
            else if (object == UWHomeViewModel::kGetMyAppEnd)
                view_->hideLoading();
        });
    });
    observe(notifications::kReloadMyAppNumbersOneByOne, [this, onMain](const Notification& note) {
        const qlonglong index = note.object.toMap().value(UWHomeViewModel::kIdxKey).toLongLong();
        onMain([this, index] {
            if (view_)
                view_->showSearchProgress(index);
        });
    });
    observe(notifications::kHadChangeUILanguage, [this](const Notification&) { refreshUIData(); });
    // The guide saw the mouse's needs met: start what that allows and let
    // the tip bar say what is still missing, if anything.
    observe(notifications::kHadPermissinAllAccept,
        [this](const Notification&) { gate_->checkPermission(false); });
    observe(notifications::kHadSnipTrans,
        [this](const Notification&) { withServices(&ApplicationServices::showSnipTransWC); });
    observe(notifications::kHadCancelSnipTrans,
        [this](const Notification&) { withServices(&ApplicationServices::cancelSnipTrans); });
    observe(notifications::kHadReloadConnectImage,
        [this](const Notification& note) { reloadConnectImageNoti(note.object); });
    observe(notifications::kHadReloadDianciImage, [this](const Notification&) { reloadDianciImageNoti(); });
}

void UWHomeViewController::reloadConnectImageNoti(const QVariant& object)
{
    const QVariant modeValue = object.toMap().value(home::kMode);
    bool ok = false;
    const qlonglong mode = modeValue.toLongLong(&ok);
    if (!ok) {
        qWarning("UWHomeViewController: a connection change without a mode was ignored");
        return;
    }
    if (view_)
        view_->showLink(mode);
    // The mouse page's settings that live in the mouse follow the link.
    if ((connectMode_ == 0) != (mode == 0))
        js_ocSendMsgWithString(jsModel().reloadWithIndex(0));
    connectMode_ = mode;
    if (mode == 0) {
        if (view_)
            view_->showNoBattery();
        jsModel().services().user.deviceInfo().setSn(QStringLiteral(""));
        if (ApplicationServices* services = environment_.services.get())
            services->waitingForConnectMouseWithDaley(1.0);
    }
}

void UWHomeViewController::reloadDianciImageNoti()
{
    const MMDeviceInfo& device = jsModel().services().user.deviceInfo();
    if (view_)
        view_->showBattery(device.batteryfloat(), device.batteryPercentage());
}

void UWHomeViewController::refreshUIData()
{
    if (AppDelegate* delegate = AppDelegate::shared())
        delegate->addStatusItem();
    if (view_)
        view_->retranslate();
}

void UWHomeViewController::webViewDidFinishNavigation()
{
    js_ocSendMsgWithString(jsModel().reloadWithIndex(0));
    // The stored commands go with the first data, so their page never shows
    // "no commands" while the list is on its way.
    js_ocSendMsgWithString(jsModel().oc_sendCustomCmdList());
    js_ocSendMsgWithString(jsModel().loadSomeObjFirst());
}

void UWHomeViewController::js_ocSendMsgWithString(const QString& script)
{
    if (script.isEmpty())
        return;
    if (environment_.pageCallSent)
        environment_.pageCallSent(script);
    if (pages_)
        pages_->evaluate(script);
}

void UWHomeViewController::tell(const QString& title, const QString& text, const QStringList& buttons)
{
    if (environment_.tell) {
        environment_.tell(title, text);
        return;
    }
    static MessageBoxAlertPresenter messageBoxes;
    messageBoxes.presentAlert(title, text,
        buttons.isEmpty() ? QStringList { LGNLocalizedString::lgnAppLocalizedString(home::kConfirm) }
                          : buttons,
        [](int) {});
}

// Asked for by the model when dynamic typing is switched on: what to do if
// typing then fails. Both buttons only close it.
void UWHomeViewController::showDynamicTypingNotice()
{
    tell(LGNLocalizedString::lgnAppLocalizedString(MMJsModel::kNoticeTitle),
        LGNLocalizedString::lgnAppLocalizedString(MMJsModel::kNoticeText),
        { LGNLocalizedString::lgnAppLocalizedString(MMJsModel::kNoticeConfirm),
            LGNLocalizedString::lgnAppLocalizedString(MMJsModel::kNoticeCancel) });
}

void UWHomeViewController::tableViewSelectionDidChange(int row)
{
    if (row < 0 || row >= UWHomeView::kMenuRows)
        return;
    selectedIndex_ = row;
    if (!view_ || row == view_->markedRow())
        return;
    js_ocSendMsgWithString(jsModel().oc_sendMegToH5WithSelectedMenuIndex(row));
    view_->markRow(row);
    if (view_->loadingViewVisible())
        view_->hideLoading();
    std::weak_ptr<bool> alive = alive_;
    if (row == 3) {
        mainQueue().async([this, alive] {
            if (!alive.expired())
                sendMyAppListToJS();
        });
    } else if (row == 2) {
        mainQueue().asyncAfter(home::kCustomListDelay, [this, alive] {
            if (!alive.expired())
                sendCustomCommandList();
        });
    }
}
void UWHomeViewController::sendMyAppListToJS(std::function<void(qsizetype)> listed)
{
    // Listing the installed applications can take a while: off the main
    // thread, the page call sent back through the main queue.
    std::shared_ptr<MMJsModel> model = jsModelShared();
    std::weak_ptr<bool> alive = alive_;
    platform::Executor* queue = &mainQueue();
    platform::GlobalQueue::async([this, model, alive, queue, listed = std::move(listed)]() mutable {
        qsizetype count = 0;
        QString script = model->oc_sendLocalAppList(&count);
        queue->async([this, alive, script = std::move(script), count, listed = std::move(listed)] {
            if (alive.expired()) {
                // The page is gone; its spinner must not stay behind.
                if (listed)
                    ArtProgressHUD::dismissLoading();
                return;
            }
            js_ocSendMsgWithString(script);
            if (listed)
                listed(count);
        });
    });
}

void UWHomeViewController::sendCustomCommandList()
{
    js_ocSendMsgWithString(jsModel().oc_sendCustomCmdList());
}

void UWHomeViewController::myAppListRefreshAction()
{
    jsModel().services().commands.cleanLocalMyAppsCmdList();
    js_ocSendMsgWithString(jsModel().oc_sendMegToH5WithSelectedMenuIndex(3));
    // A spinner while the list is rebuilt, then how many were found.
    ArtProgressHUD::showLoading(view_);
    std::weak_ptr<bool> alive = alive_;
    mainQueue().async([this, alive] {
        if (alive.expired()) {
            ArtProgressHUD::dismissLoading();
            return;
        }
        sendMyAppListToJS([this](qsizetype count) {
            const QString found = count == 1
                ? LGNLocalizedString::lgnAppLocalizedString(home::kOneApplicationFoundKey)
                : LGNLocalizedString::lgnAppLocalizedString(home::kApplicationsFoundKey).arg(count);
            ArtProgressHUD::showText(found, ArtProgressHUD::kSuccess, view_);
        });
    });
}

void UWHomeViewController::startupAppWhenLoginWithStartup(bool on)
{
    if (environment_.setLoginItem)
        environment_.setLoginItem(on);
}

void UWHomeViewController::userContentController(const QString& name, const QJsonValue& body)
{
    MMJsModel& model = jsModel();
    if (name == MMJsModel::kMouseSettings) {
        model.saveWebConfig1stWebWithMsg(body);
    } else if (name == MMJsModel::kAiSettings) {
        model.saveWebConfig2ndWebWithMsg(body);
    } else if (name == MMJsModel::kRefreshInstructionData) {
        model.saveCustomInstructionList(body);
    } else if (name == MMJsModel::kSelfAdaption) {
        myAppListRefreshAction();
    } else if (name == MMJsModel::kExecutionLocation) {
        if (ApplicationServices* services = environment_.services.get())
            services->changeFolderAction(
                view_, [this, alive = std::weak_ptr<bool>(alive_)](const QString& script) {
                    if (!alive.expired())
                        js_ocSendMsgWithString(script);
                });
    } else if (name == MMJsModel::kCheckLevel) {
        withServices(&ApplicationServices::checkNewVersion);
    } else if (name == MMJsModel::kSetSystemLanguage) {
        const std::optional<quint64> index = MMJsModel::systemLanguageIndex(body);
        if (!index) {
            qWarning("UWHomeViewController: \"setSystemLanguage\" ignored: the body is not a language index "
                     "0 to 4");
            return;
        }
        model.services().languages.setIndexOfUI(*index);
        center_.post(notifications::kHadChangeUILanguage);
    } else if (name == MMJsModel::kScreenshotTranslationKey) {
        withServices(&ApplicationServices::showShortCutWindow);
    } else if (name == MMJsModel::kLogExport) {
        if (ApplicationServices* services = environment_.services.get())
            services->exportDocumentFolder(view_);
    } else {
        qWarning("UWHomeViewController: unknown page message \"%s\" ignored", qUtf8Printable(name.left(64)));
    }
}

ScriptMessageWebView* UWHomeViewController::webView() const
{
    return pages_ ? pages_->webView() : nullptr;
}
