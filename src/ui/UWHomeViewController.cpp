#include "ui/UWHomeViewController.h"

#include "core/AppDelegate.h"
#include "core/AppStyle.h"
#include "core/ArtProgressHUD.h"
#include "core/BackendAddress.h"
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "core/NoticeTexts.h"
#include "core/Notifications.h"
#include "core/StorageCheck.h"
#include "device/MMpermissionCheck.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "platform/Resources.h"
#include "platform/UserNotices.h"
#include "ui/IndicatorImage.h"
#include "ui/MMpermiWC.h"
#include "ui/NoticeArea.h"
#include "ui/PageViewLifetime.h"
#include "ui/ScriptMessageWebView.h"
#include "ui/SecondaryWindows.h"
#include "ui/WeakScriptMessageDelegate.h"
#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"
#include "voice/UWHomeViewModel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <iterator>

const QString UWHomeViewController::kAppTable = QStringLiteral("DBMyAppsoooCmdListKey");
const QString UWHomeViewController::kCustomTable = QStringLiteral("DBCustomizeCmdList");
const QString UWHomeViewController::kCommandDatabaseNotice = QStringLiteral("command-database-replaced");

namespace home {

// The tip bar: what the mouse itself needs is missing; or only what the
// capture tool and selection translation need. A missing Bluetooth adapter
// gets no tip: the receiver serves the mouse and the guide tells what
// Bluetooth would add.
const QString kTipMouse = QStringLiteral("鼠标的接收器和按键还不能使用：需要输入设备的访问权限。");
const QString kTipScreen = QStringLiteral("此会话不允许读取屏幕：截图翻译和划词翻译不可用。");
const QString kTipButton = QStringLiteral("立即授权");
// Told when "Find applications again" ends; %1 is how many were found. One
// application has a text of its own, for the languages whose noun then
// takes the singular.
const QString kOneApplicationFoundKey = QStringLiteral("已找到 1 个应用");
const QString kApplicationsFoundKey = QStringLiteral("已找到 %1 个应用");
// The connection as the status box names it.
const QString kUsbReceiver = QStringLiteral("USB 接收器");
const QString kBluetooth = QStringLiteral("蓝牙");
const QString kNotConnected = QStringLiteral("未连接鼠标");
const QString kConnectedBy = QStringLiteral("鼠标已通过%@连接");
const QString kManual = QStringLiteral("使用手册");
const QString kMinimise = QStringLiteral("最小化");
const QString kClose = QStringLiteral("关闭");
const QString kSearching = QStringLiteral("检索中");
const QString kVersion = QStringLiteral("版本号");
const QString kBatteryLevel = QStringLiteral("电量 %@");
const QString kManualPath = QStringLiteral("/manual/KZ-31.html");
const QString kMode = QStringLiteral("mode");
const QString kIdx = QStringLiteral("idx");
const QString kBegin = QStringLiteral("Begin");
const QString kEnd = QStringLiteral("End");
const QString kPagesEntry = QStringLiteral("h5/index.html");
// Link modes the device links post: the two Bluetooth links, the receiver.
constexpr qlonglong kBluetoothModes[] = { 2, 3 };
constexpr qlonglong kUsbReceiverMode = 4;
// The smallest window the page still works in, and the size it opens with.
constexpr QSize kMinimumSize(600, 420);
constexpr QSize kStartSize(1080, 700);
constexpr double kCustomListDelay = 0.3;
constexpr qsizetype kScriptsKept = 64;

struct MenuEntry {
    QString title;
};

const QList<MenuEntry>& menuEntries()
{
    static const QList<MenuEntry> entries { { QStringLiteral("鼠标设置") }, { QStringLiteral("AI智能设置") },
        { QStringLiteral("自定义指令") }, { QStringLiteral("语音指令设置") },
        { QStringLiteral("软件设置") } };
    return entries;
}

QString tr(const QString& key)
{
    return LGNLocalizedString::lgnAppLocalizedString(key);
}

// The words for a link mode, empty when no mouse is linked.
QString connectWords(qlonglong mode)
{
    if (mode == kUsbReceiverMode)
        return tr(kUsbReceiver);
    if (std::find(std::begin(kBluetoothModes), std::end(kBluetoothModes), mode) != std::end(kBluetoothModes))
        return tr(kBluetooth);
    return QString();
}

// "Version: 1.0.0"; a build number is added only when it says something more.
QString versionLine(const QString& version, const QString& build)
{
    QString line = QStringLiteral("%1: %2").arg(tr(kVersion), version);
    if (!build.isEmpty() && build != version)
        line += QStringLiteral(" (%1)").arg(build);
    return line;
}

// The words beside the link picture: how the mouse is connected, or that it is not.
QString linkWords(qlonglong mode)
{
    const QString words = connectWords(mode);
    return words.isEmpty() ? tr(kNotConnected) : words;
}

// The words beside the battery picture; none while no level is known.
QString batteryWords(const QString& percentage)
{
    return percentage.isEmpty() ? QString() : tr(kBatteryLevel).replace(QStringLiteral("%@"), percentage);
}

const char* const kStyle = R"CSS(
#homeRoot { background: #eef1f6; }
#leftColumn { background: #1e2431; }
#appTitle { color: #ffffff; font-size: 18px; font-weight: 600; padding: 4px 6px; }
#leftMenu { background: transparent; border: none; color: #c9d1e2; font-size: 14px; outline: 0; }
#leftMenu::item { padding: 10px 12px; border-radius: 8px; margin: 2px 0; }
#leftMenu::item:hover { background: #2a3244; }
#leftMenu::item:selected { background: #3b6df2; color: #ffffff; }
#statusBox { background: #262e3f; border-radius: 10px; }
#statusText { color: #c9d1e2; font-size: 12px; }
#versionLine { color: #7f8aa3; font-size: 11px; }
#tipBar { background: #fff4e0; border: 1px solid #f3c98b; border-radius: 5px; }
#tipText { color: #8a5a14; }
#tipButton { background: #f0a030; color: #ffffff; border: none; border-radius: 4px; padding: 4px 12px; }
#rightPanel { background: #ffffff; border-radius: 7px; }
#windowButton { border: none; color: #5b6478; font-size: 15px; padding: 2px 8px; }
#windowButton:hover { background: #e3e7ef; border-radius: 4px; }
#loadingView { background: rgba(255, 255, 255, 200); border-radius: 5px; }
#loadingText { color: #3b4357; font-size: 14px; }
)CSS";

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
}

UWHomeViewController::~UWHomeViewController()
{
    *alive_ = false;
    if (notices_)
        platform::UserNotices::shared().setListener(nullptr);
    observers_.clear();
    delete pmsWC_;
    if (view_ && !view_->parent())
        delete view_;
}

QWidget* UWHomeViewController::view()
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
        jsModel_ = std::make_shared<MMJsModel>(
            environment_.pageServices ? environment_.pageServices() : MMJsModel::sharedServices());
        std::weak_ptr<bool> alive = alive_;
        jsModel_->huaci = [this, alive](bool on) {
            if (alive.expired())
                return;
            if (SecondaryWindows* windows = environment_.windows.get())
                windows->setSelectionMonitor(on);
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
    showNotices();
    startupLog_ << QStringLiteral("view");
    init_data();
}

void UWHomeViewController::init_ui()
{
    view_ = new QWidget();
    view_->setObjectName(QStringLiteral("homeRoot"));
    view_->setFont(AppStyle::font());
    // The family named in the sheet too: once the view is put into the main
    // window, a style sheet resolves its children's fonts without the view's.
    view_->setStyleSheet(QStringLiteral("QWidget { font-family: \"%1\"; }").arg(AppStyle::font().family())
        + QString::fromUtf8(home::kStyle));
    view_->setMinimumSize(home::kMinimumSize);
    view_->resize(home::kStartSize);
    auto* root = new QHBoxLayout(view_);
    root->setContentsMargins(0, 0, 12, 12);
    root->setSpacing(12);

    auto* left = new QWidget(view_);
    left->setObjectName(QStringLiteral("leftColumn"));
    left->setAttribute(Qt::WA_StyledBackground);
    left->setFixedWidth(256);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(14, 18, 14, 14);
    leftLayout->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("PraVik"), left);
    title->setObjectName(QStringLiteral("appTitle"));
    leftLayout->addWidget(title);
    leftMenuTableView_ = new QListWidget(left);
    leftMenuTableView_->setObjectName(QStringLiteral("leftMenu"));
    // Tab reaches the menu and the arrow keys move through it.
    leftMenuTableView_->setFocusPolicy(Qt::StrongFocus);
    leftMenuTableView_->setSelectionMode(QAbstractItemView::SingleSelection);
    leftMenuTableView_->setCursor(Qt::PointingHandCursor);
    leftMenuTableView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    leftMenuTableView_->setWordWrap(true); // long titles wrap rather than lose their end
    leftLayout->addWidget(leftMenuTableView_, 1);

    auto* status = new QWidget(left);
    statusBox_ = status;
    status->setObjectName(QStringLiteral("statusBox"));
    status->setAttribute(Qt::WA_StyledBackground);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(12, 10, 12, 10);
    deviceConnectModeImage_ = new QLabel(status);
    deviceConnectModeImage_->setObjectName(QStringLiteral("connectImage"));
    connectLb_ = new QLabel(status);
    connectLb_->setObjectName(QStringLiteral("statusText"));
    batteryImgView_ = new QLabel(status);
    batteryLb_ = new QLabel(status);
    batteryLb_->setObjectName(QStringLiteral("statusText"));
    statusLayout->addWidget(deviceConnectModeImage_);
    statusLayout->addWidget(connectLb_, 1);
    statusLayout->addWidget(batteryImgView_);
    statusLayout->addWidget(batteryLb_);
    leftLayout->addWidget(status);
    versionLb_ = new QLabel(left);
    versionLb_->setObjectName(QStringLiteral("versionLine"));
    versionLb_->setWordWrap(true);
    leftLayout->addWidget(versionLb_);
    root->addWidget(left);

    auto* right = new QVBoxLayout();
    right->setContentsMargins(0, 6, 0, 0);
    right->setSpacing(8);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    const auto windowButton = [this](const QString& text, const QString& tip) {
        auto* button = new QPushButton(text, view_);
        button->setObjectName(QStringLiteral("windowButton"));
        button->setProperty("toolTipKey", tip);
        button->setToolTip(home::tr(tip));
        button->setCursor(Qt::PointingHandCursor);
        return button;
    };
    QPushButton* manual = windowButton(QStringLiteral("?"), home::kManual);
    QPushButton* minimise = windowButton(QStringLiteral("–"), home::kMinimise);
    QPushButton* close = windowButton(QStringLiteral("×"), home::kClose);
    buttons->addWidget(manual);
    buttons->addWidget(minimise);
    buttons->addWidget(close);
    right->addLayout(buttons);
    QObject::connect(close, &QPushButton::clicked, view_, [] {
        if (AppDelegate* delegate = AppDelegate::shared(); delegate && delegate->window())
            delegate->window()->close();
    });
    QObject::connect(minimise, &QPushButton::clicked, view_, [] {
        if (AppDelegate* delegate = AppDelegate::shared(); delegate && delegate->window())
            delegate->window()->showMinimized();
    });
    QObject::connect(manual, &QPushButton::clicked, view_, [this] {
        const QString backend = BackendAddress::configured();
        // The manual is served by the back end: without a usable address
        // the click says so (the notice at the top may have been dismissed).
        switch (BackendAddress::stateOf(backend)) {
        case BackendAddress::State::Usable:
            break;
        case BackendAddress::State::NotConfigured:
            tell(home::tr(home::kManual),
                NoticeTexts::manualNeedsBackend(
                    QString::fromLatin1(BackendAddress::kEnvironmentVariable), BackendAddress::kPreferenceKey));
            return;
        case BackendAddress::State::Invalid:
            tell(home::tr(home::kManual), NoticeTexts::backendInvalid(backend));
            return;
        }
        const QString address = QUrl(backend).resolved(QUrl(home::kManualPath)).toString();
        if (environment_.openUrl)
            environment_.openUrl(address);
        else
            QDesktopServices::openUrl(QUrl(address));
    });

    notices_ = new NoticeArea(view_);
    right->addWidget(notices_);

    permissionTipsView_ = new QWidget(view_);
    permissionTipsView_->setObjectName(QStringLiteral("tipBar"));
    permissionTipsView_->setAttribute(Qt::WA_StyledBackground);
    auto* tipLayout = new QHBoxLayout(permissionTipsView_);
    tipLayout->setContentsMargins(12, 6, 8, 6);
    permissionTipLb_ = new QLabel(permissionTipsView_);
    permissionTipLb_->setObjectName(QStringLiteral("tipText"));
    permissionTipLb_->setWordWrap(true);
    permissionTipBtn_ = new QPushButton(permissionTipsView_);
    permissionTipBtn_->setObjectName(QStringLiteral("tipButton"));
    permissionTipBtn_->setCursor(Qt::PointingHandCursor);
    tipLayout->addWidget(permissionTipLb_, 1);
    tipLayout->addWidget(permissionTipBtn_);
    QObject::connect(permissionTipBtn_, &QPushButton::clicked, view_, [this] { permissionTipBtnAction(); });
    permissionTipsView_->hide();
    right->addWidget(permissionTipsView_);

    AIVoiceSetView_ = new QWidget(view_);
    AIVoiceSetView_->setObjectName(QStringLiteral("rightPanel"));
    AIVoiceSetView_->setAttribute(Qt::WA_StyledBackground);
    auto* stack = new QStackedLayout(AIVoiceSetView_);
    stack->setStackingMode(QStackedLayout::StackAll);
    right->addWidget(AIVoiceSetView_, 1);
    root->addLayout(right, 1);

    initUIData();
    init_WebView();

    // The overlay lies over the page and takes its clicks while shown.
    loadingView_ = new QWidget(AIVoiceSetView_);
    loadingView_->setObjectName(QStringLiteral("loadingView"));
    loadingView_->setAttribute(Qt::WA_StyledBackground);
    auto* loadingLayout = new QVBoxLayout(loadingView_);
    loadingViewText_ = new QLabel(loadingView_);
    loadingViewText_->setObjectName(QStringLiteral("loadingText"));
    loadingViewText_->setAlignment(Qt::AlignCenter);
    loadingLayout->addWidget(loadingViewText_);
    stack->addWidget(loadingView_);
    loadingView_->hide();

    init_permissionTipsView();
    setIndicator(deviceConnectModeImage_, &connectImage_, QStringLiteral("connect_mode0"));
    setIndicator(batteryImgView_, &batteryImage_, QStringLiteral("disconnected"));
    QObject::connect(leftMenuTableView_, &QListWidget::currentRowChanged, view_, [this](int row) {
        if (row >= 0)
            tableViewSelectionDidChange(row);
    });
    // A click on the empty space below the entries clears the list's
    // selection; the page shown has not changed, so neither does the mark.
    QObject::connect(leftMenuTableView_, &QListWidget::itemSelectionChanged, view_, [this] {
        if (leftMenuTableView_->selectedItems().isEmpty()) {
            if (QListWidgetItem* item = leftMenuTableView_->item(leftTableViewSelectedIndex_))
                item->setSelected(true);
        }
    });
}

void UWHomeViewController::initUIData()
{
    if (!leftMenuTableView_)
        return;
    const QSignalBlocker quiet(leftMenuTableView_);
    leftMenuTableView_->clear();
    for (const home::MenuEntry& entry : home::menuEntries())
        leftMenuTableView_->addItem(home::tr(entry.title));
    leftMenuTableView_->setCurrentRow(leftTableViewSelectedIndex_);
    versionLb_->setText(home::versionLine(MMUserInfo::myVersion(), QCoreApplication::applicationVersion()));
    for (QPushButton* button : view_->findChildren<QPushButton*>()) {
        const QString key = button->property("toolTipKey").toString();
        if (!key.isEmpty())
            button->setToolTip(home::tr(key));
    }
    if (notices_)
        notices_->retranslate();
    if (connectLb_)
        connectLb_->setText(home::linkWords(connectMode_));
    if (batteryLb_ && !batteryLb_->text().isEmpty())
        batteryLb_->setText(home::batteryWords(jsModel().services().user.deviceInfo().batteryPercentage()));
    updateStatusToolTip();
}

void UWHomeViewController::init_permissionTipsView()
{
    permissionTipLb_->setText(tipKey_.isEmpty() ? QString() : home::tr(tipKey_));
    permissionTipBtn_->setText(home::tr(home::kTipButton));
}

void UWHomeViewController::showTip(const QString& key)
{
    tipKey_ = key;
    init_permissionTipsView();
    permissionTipsView_->setVisible(!key.isEmpty());
}

QString UWHomeViewController::tipText() const
{
    return permissionTipLb_ && tipBarVisible() ? permissionTipLb_->text() : QString();
}

void UWHomeViewController::init_WebView()
{
    relay_ = new WeakScriptMessageDelegate(view_);
    relay_->setUucDelegate(
        view_, [this](const QString& name, const QJsonValue& body) { userContentController(name, body); });
    if (!environment_.webView)
        return;
    // The page lives while the window shows it; reopening builds it again.
    pages_ = std::make_unique<PageViewLifetime>(
        view_, mainQueue(), [this](std::function<void()> ready) { buildWebView(std::move(ready)); },
        [this] { releaseWebView(); });
    if (!startsHidden_)
        pages_->whenReady({});
}

void UWHomeViewController::buildWebView(std::function<void()> ready)
{
    // A page built again starts on its first page: so does the menu.
    selectedIndex_ = 0;
    if (leftTableViewSelectedIndex_ != 0) {
        leftTableViewSelectedIndex_ = 0;
        initUIData();
    }
    webView_ = new ScriptMessageWebView(messageNames(), relay_, AIVoiceSetView_);
    static_cast<QStackedLayout*>(AIVoiceSetView_->layout())->addWidget(webView_);
    if (loadingViewVisible())
        loadingView_->raise();
    QObject::connect(webView_, &QWebEngineView::loadProgress, webView_, [this] {
        if (pages_)
            pages_->pageProgressed(); // slow, not stuck: the window waits for the page
    });
    QObject::connect(webView_, &QWebEngineView::loadFinished, webView_, [this, ready](bool ok) {
        if (ok)
            webViewDidFinishNavigation();
        ready();
    });
    webView_->loadEntryPage(environment_.pagesFolder.isEmpty()
            ? platform::Resources::path(home::kPagesEntry)
            : QDir(environment_.pagesFolder).filePath(home::kPagesEntry));
}

void UWHomeViewController::releaseWebView()
{
    delete webView_.data();
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
    return notices_ ? notices_->texts() : QStringList();
}

void UWHomeViewController::showNotices()
{
    platform::UserNotices& notices = platform::UserNotices::shared();
    QPointer<NoticeArea> area = notices_;
    notices.setListener([area](const platform::UserNotices::Notice& notice) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [area, notice] {
            if (area)
                area->addNotice(notice.key, notice.text);
        });
    });
    for (const auto& notice : notices.pending())
        notices_->addNotice(notice.key, notice.text);
}

void UWHomeViewController::openCommandDatabase()
{
    using Outcome = HRPSqliteOperation::Recovery::Outcome;
    const QString path = database_.databasePath();
    const HRPSqliteOperation::Recovery recovery = database_.recoverIfDamaged();
    switch (recovery.outcome) {
    case Outcome::Healthy:
        break;
    case Outcome::MovedAside:
        qWarning("UWHomeViewController: the command database %s could not be read (%s); it was kept as %s "
                 "and a new one started",
            qUtf8Printable(path), qUtf8Printable(recovery.reason), qUtf8Printable(recovery.keptAs));
        platform::UserNotices::shared().post(kCommandDatabaseNotice,
            NoticeTexts::commandDatabaseDamaged(path, recovery.reason, recovery.keptAs));
        break;
    case Outcome::Unwritable:
        StorageCheck::reportUnwritable(QFileInfo(path).absolutePath(), recovery.reason);
        break;
    }
}

void UWHomeViewController::init_data()
{
    openCommandDatabase();
    QString error;
    if (!database_.createTableWithtableName(kAppTable, MMAppdataItem(), &error)
        || !database_.createTableWithtableName(kCustomTable, MMCustomCmdItem(), &error))
        qWarning("UWHomeViewController: creating the command tables in %s failed: %s; voice commands will "
                 "not work",
            qUtf8Printable(database_.databasePath()), qUtf8Printable(error));
    startupLog_ << QStringLiteral("tables");
    if (hooks_.watchPermissions) {
        std::weak_ptr<bool> alive = alive_;
        hooks_.watchPermissions([this, alive] {
            if (!alive.expired())
                checkPermission(false);
        });
    }
    checkPermission();
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
    withWindows(&SecondaryWindows::checkVersion);
    startupLog_ << QStringLiteral("update check");
}

void UWHomeViewController::withWindows(void (SecondaryWindows::*open)())
{
    if (SecondaryWindows* windows = environment_.windows.get())
        (windows->*open)();
}

void UWHomeViewController::checkPermission(bool mayOpenGuide)
{
    std::shared_ptr<MMpermissionCheck> checker
        = hooks_.makePermissionCheck ? hooks_.makePermissionCheck() : nullptr;
    if (!checker) {
        canUSB();
        startBluetoothLink();
        return;
    }
    // The checker stays the key tap's target until the next check.
    permissionCheck_ = checker;
    std::weak_ptr<MMpermissionCheck> weak = checker;
    std::weak_ptr<bool> alive = alive_;
    auto probes = std::make_shared<int>(0);
    checker->permissionCheckCallback([this, weak, alive, probes, mayOpenGuide](bool) {
        // Decided once all three answers are in.
        if (alive.expired() || ++*probes < 3)
            return;
        if (const std::shared_ptr<MMpermissionCheck> check = weak.lock())
            applyPermissions(*check, mayOpenGuide);
    });
}

// Each link starts as soon as what it needs is there; only a missing need of
// the mouse itself opens the guide by itself.
void UWHomeViewController::applyPermissions(const MMpermissionCheck& check, bool mayOpenGuide)
{
    if (check.permissionOfAccessibility())
        canUSB();
    if (check.permissionOfBluetooth())
        startBluetoothLink();
    // Input access without the keys taken (the session refused the tap)
    // still leaves the mouse's keys dead: the guide's checks try again.
    if (!check.permissionOfAccessibility() || !check.keysTaken()) {
        if (tipKey_ != home::kTipMouse)
            qWarning("The mouse's receiver and keys cannot be used yet: input-device access is missing (the "
                     "permission window shows how to give it)");
        showTip(home::kTipMouse);
        if (mayOpenGuide)
            showpermissionCheckWindow();
    } else if (!check.permissionOfcScreen()) {
        if (tipKey_ != home::kTipScreen)
            qInfo("This session does not let PraVik read the screen: screenshot and selection translation are off");
        showTip(home::kTipScreen);
    } else {
        showTip(QString());
    }
}

void UWHomeViewController::permissionTipBtnAction()
{
    // Asked for: the guide opens whatever is missing, to show how to add it.
    checkPermission(false);
    showpermissionCheckWindow();
}

void UWHomeViewController::canUSB()
{
    if (usbStarted_)
        return;
    usbStarted_ = true;
    ++usbWatcherStarts_;
    if (hooks_.startUsbWatcher)
        hooks_.startUsbWatcher();
    qInfo("Looking for the mouse on its USB receiver");
    startupLog_ << QStringLiteral("receiver");
}

void UWHomeViewController::startBluetoothLink()
{
    if (bluetoothStarted_)
        return;
    bluetoothStarted_ = true;
    ++bluetoothLinkStarts_;
    if (hooks_.startBluetoothLink)
        hooks_.startBluetoothLink();
    qInfo("Looking for the mouse over Bluetooth");
    startupLog_ << QStringLiteral("bluetooth");
}

void UWHomeViewController::showpermissionCheckWindow()
{
    ++guideWindowShows_;
    if (!pmsWC_) {
        pmsWC_ = new MMpermiWC(hooks_.makePermissionCheck, mainQueue(), center_);
        pmsWC_->setAttribute(Qt::WA_DeleteOnClose);
    }
    pmsWC_->show();
    pmsWC_->raise();
}

MMpermiWC* UWHomeViewController::permissionWindow() const
{
    return pmsWC_;
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
    observe(notifications::kHadOpenGPT, [this](const Notification&) { withWindows(&SecondaryWindows::showChatWindow); });
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
            if (object == home::kBegin)
                loadingViewShow();
            else if (object == home::kEnd)
                loadingViewHide();
        });
    });
    observe(notifications::kReloadMyAppNumbersOneByOne, [this, onMain](const Notification& note) {
        const qlonglong index = note.object.toMap().value(home::kIdx).toLongLong();
        onMain([this, index] {
            loadingViewText_->setText(QStringLiteral("%1.. %2").arg(home::tr(home::kSearching)).arg(index));
        });
    });
    observe(notifications::kHadChangeUILanguage, [this](const Notification&) { refreshUIData(); });
    // The guide saw the mouse's needs met: start what that allows and let
    // the tip bar say what is still missing, if anything.
    observe(notifications::kHadPermissinAllAccept, [this](const Notification&) { checkPermission(false); });
    observe(notifications::kHadSnipTrans, [this](const Notification&) { withWindows(&SecondaryWindows::showSnipTransWC); });
    observe(
        notifications::kHadCancelSnipTrans, [this](const Notification&) { withWindows(&SecondaryWindows::cancelSnipTrans); });
    observe(notifications::kHadReloadConnectImage,
        [this](const Notification& note) { reloadConnectImageNoti(note.object); });
    observe(notifications::kHadReloadDianciImage, [this](const Notification&) { reloadDianciImageNoti(); });
}

void UWHomeViewController::setIndicator(QLabel* label, QString* nameField, const QString& name)
{
    *nameField = name;
    if (label)
        label->setPixmap(IndicatorImage::imageNamed(name, label->devicePixelRatioF()));
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
    setIndicator(deviceConnectModeImage_, &connectImage_, QStringLiteral("connect_mode%1").arg(mode));
    // The mouse page's settings that live in the mouse follow the link.
    if ((connectMode_ == 0) != (mode == 0))
        js_ocSendMsgWithString(jsModel().reloadWithIndex(0));
    connectMode_ = mode;
    connectLb_->setText(home::linkWords(mode));
    updateStatusToolTip();
    if (mode == 0) {
        setIndicator(batteryImgView_, &batteryImage_, QStringLiteral("disconnected"));
        batteryLb_->setText(QString());
        jsModel().services().user.deviceInfo().setSn(QStringLiteral(""));
        if (SecondaryWindows* windows = environment_.windows.get())
            windows->waitingForConnectMouseWithDaley(1.0);
    }
}

void UWHomeViewController::updateStatusToolTip()
{
    if (!statusBox_)
        return;
    const QString words = home::connectWords(connectMode_);
    statusBox_->setToolTip(words.isEmpty() ? home::tr(home::kNotConnected)
                                           : home::tr(home::kConnectedBy).replace(QStringLiteral("%@"), words));
}

QString UWHomeViewController::connectText() const
{
    return connectLb_ ? connectLb_->text() : QString();
}

QString UWHomeViewController::statusToolTip() const
{
    return statusBox_ ? statusBox_->toolTip() : QString();
}

void UWHomeViewController::reloadDianciImageNoti()
{
    const MMDeviceInfo& device = jsModel().services().user.deviceInfo();
    setIndicator(batteryImgView_, &batteryImage_,
        QStringLiteral("battery%1").arg(IndicatorImage::batteryLevel(device.batteryfloat())));
    batteryLb_->setText(home::batteryWords(device.batteryPercentage()));
}

void UWHomeViewController::refreshUIData()
{
    if (AppDelegate* delegate = AppDelegate::shared())
        delegate->addStatusItem();
    initUIData();
    init_permissionTipsView();
}

void UWHomeViewController::loadingViewShow()
{
    loadingView_->show();
    loadingView_->raise();
}

void UWHomeViewController::loadingViewHide()
{
    loadingView_->hide();
}

bool UWHomeViewController::tipBarVisible() const
{
    return permissionTipsView_ && !permissionTipsView_->isHidden();
}

bool UWHomeViewController::loadingViewVisible() const
{
    return loadingView_ && !loadingView_->isHidden();
}

QString UWHomeViewController::loadingText() const
{
    return loadingViewText_ ? loadingViewText_->text() : QString();
}

QString UWHomeViewController::batteryText() const
{
    return batteryLb_ ? batteryLb_->text() : QString();
}

QStringList UWHomeViewController::menuTitles() const
{
    QStringList titles;
    for (int i = 0; leftMenuTableView_ && i < leftMenuTableView_->count(); ++i)
        titles << leftMenuTableView_->item(i)->text();
    return titles;
}

QString UWHomeViewController::versionText() const
{
    return versionLb_ ? versionLb_->text() : QString();
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
    sentScripts_ << script;
    if (sentScripts_.size() > home::kScriptsKept)
        sentScripts_.removeFirst();
    if (webView_)
        webView_->evaluate(script);
}

void UWHomeViewController::tell(const QString& title, const QString& text)
{
    if (environment_.tell) {
        environment_.tell(title, text);
        return;
    }
    static MessageBoxAlertPresenter messageBoxes;
    messageBoxes.presentAlert(title, text, { home::tr(QStringLiteral("确认")) }, [](int) {});
}

void UWHomeViewController::tableViewSelectionDidChange(int row)
{
    if (row < 0 || row >= home::menuEntries().size())
        return;
    selectedIndex_ = row;
    if (row == leftTableViewSelectedIndex_)
        return;
    js_ocSendMsgWithString(jsModel().oc_sendMegToH5WithSelectedMenuIndex(row));
    leftTableViewSelectedIndex_ = row;
    if (leftMenuTableView_ && leftMenuTableView_->currentRow() != row) {
        const QSignalBlocker quiet(leftMenuTableView_);
        leftMenuTableView_->setCurrentRow(row);
    }
    if (loadingViewVisible())
        loadingViewHide();
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
            const QString found = count == 1 ? home::tr(home::kOneApplicationFoundKey)
                                             : home::tr(home::kApplicationsFoundKey).arg(count);
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
        if (SecondaryWindows* windows = environment_.windows.get())
            windows->changeFolderAction(view_, [this, alive = std::weak_ptr<bool>(alive_)](const QString& script) {
                if (!alive.expired())
                    js_ocSendMsgWithString(script);
            });
    } else if (name == MMJsModel::kCheckLevel) {
        withWindows(&SecondaryWindows::checkNewVersion);
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
        withWindows(&SecondaryWindows::showShortCutWindow);
    } else if (name == MMJsModel::kLogExport) {
        if (SecondaryWindows* windows = environment_.windows.get())
            windows->exportDocumentFolder(view_);
    } else {
        qWarning("UWHomeViewController: unknown page message \"%s\" ignored", qUtf8Printable(name.left(64)));
    }
}

ScriptMessageWebView* UWHomeViewController::webView() const
{
    return webView_;
}
