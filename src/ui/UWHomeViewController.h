#pragma once

#include "core/MainContentController.h"
#include "platform/NotificationCenter.h"
#include "ui/MMJsModel.h"

#include <QJsonValue>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;
class HRPSqliteOperation;
class MMpermiWC;
class MMpermissionCheck;
class NoticeArea;
class PageViewLifetime;
class ScriptMessageWebView;
class SecondaryWindows;
class WeakScriptMessageDelegate;

namespace platform {
class Executor;
}

// What the controller reaches beyond the database; tests pass their own.
struct UWHomeEnvironment {
    // The page-data services, made when the model is first used.
    std::function<MMJsModel::Services()> pageServices; // none: the process-wide ones
    std::shared_ptr<SecondaryWindows> windows; // none: no secondary windows (tests)
    std::function<void(bool)> setLoginItem; // start at login on or off
    std::function<void(const QString&)> openUrl;
    // Tells the user something in a dialog over the main window: its title
    // and text. None: a message box.
    std::function<void(const QString& title, const QString& text)> tell;
    platform::Executor* mainQueue = nullptr; // none: the main queue
    QString pagesFolder; // none: the "h5" resources
    bool webView = true; // false: no pages (tests without a browser)
};

// The main window's content controller. The first call of view() builds the
// view and runs the application's start-up: the left menu, the settings web
// view, the two command tables, the permission check (each device link
// starts as soon as what it needs is there), the press-code consumer and the
// notification observers. Afterwards it is the hub of the interface: menu, connection and
// battery indicators, permission tip bar, loading overlay, the settings
// pages' bridge, and the secondary windows.
class UWHomeViewController : public MainContentController {
public:
    static const QString kAppTable; // "DBMyAppsoooCmdListKey"
    static const QString kCustomTable; // "DBCustomizeCmdList"
    // The nine messages the settings pages may post, in registration order.
    static const QStringList& messageNames();

    struct StartupHooks {
        // Hands the mouse's press codes to the voice-key orchestrator.
        std::function<void()> beginMouseMonitor;
        // A fresh permission checker for each check; none means the session
        // is not checked (every permission counts as granted).
        std::function<std::shared_ptr<MMpermissionCheck>()> makePermissionCheck;
        // Starts the USB receiver watcher (once input-device access is there).
        std::function<void()> startUsbWatcher;
        // Starts the Bluetooth link (once an adapter is there).
        std::function<void()> startBluetoothLink;
        // Has the given function called whenever the session's answers
        // change by themselves (an adapter plugged in).
        std::function<void(std::function<void()>)> watchPermissions;
    };

    using Environment = UWHomeEnvironment;

    explicit UWHomeViewController(HRPSqliteOperation& database, StartupHooks hooks = {},
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        Environment environment = {});
    ~UWHomeViewController() override;

    QWidget* view() override;
    void setViewStartsHidden(bool hidden) override { startsHidden_ = hidden; }
    void whenReadyToShow(std::function<void()> show) override;
    bool isViewLoaded() const { return view_ != nullptr; }
    const QStringList& startupLog() const { return startupLog_; }
    QStringList noticeTexts() const;
    static const QString kCommandDatabaseNotice;

    // Page messages, as the bridge delivers them.
    void userContentController(const QString& name, const QJsonValue& body);
    // The menu: row chosen by the user (also what a click does).
    void tableViewSelectionDidChange(int row);
    // The tip bar's button: the whole permission check again, and the guide.
    void permissionTipBtnAction();

    // State the window shows, for tests and diagnostics.
    QString connectImageName() const { return connectImage_; }
    QString batteryImageName() const { return batteryImage_; }
    QString batteryText() const;
    bool tipBarVisible() const;
    bool loadingViewVisible() const;
    QString loadingText() const;
    QStringList menuTitles() const;
    QString versionText() const;
    int leftTableViewSelectedIndex() const { return leftTableViewSelectedIndex_; }
    QString connectText() const;
    QString statusToolTip() const;
    QString tipText() const;
    int usbWatcherStarts() const { return usbWatcherStarts_; }
    int bluetoothLinkStarts() const { return bluetoothLinkStarts_; }
    int guideWindowShows() const { return guideWindowShows_; }
    MMpermiWC* permissionWindow() const;
    ScriptMessageWebView* webView() const;
    MMJsModel& jsModel();
    // Every page-function call sent, in order (the last 64).
    const QStringList& sentScripts() const { return sentScripts_; }

private:
    void viewDidLoad();
    void init_ui();
    void initUIData();
    void init_WebView();
    void buildWebView(std::function<void()> ready);
    void releaseWebView();
    void init_permissionTipsView();
    void showNotices();
    void init_data();
    void openCommandDatabase();
    void somethingNetWork();
    void withWindows(void (SecondaryWindows::*open)());
    // Runs the probes and starts what they allow; `mayOpenGuide` lets a
    // missing need of the mouse open the permission guide.
    void checkPermission(bool mayOpenGuide = true);
    void applyPermissions(const MMpermissionCheck& check, bool mayOpenGuide);
    void canUSB();
    void startBluetoothLink();
    void showTip(const QString& key);
    void updateStatusToolTip();
    void init_noti();
    void refreshUIData();
    void loadingViewShow();
    void loadingViewHide();
    void showpermissionCheckWindow();
    void reloadConnectImageNoti(const QVariant& object);
    void reloadDianciImageNoti();
    void webViewDidFinishNavigation();
    void js_ocSendMsgWithString(const QString& script);
    void tell(const QString& title, const QString& text);
    // `listed`, when given, runs on the main thread with the number of
    // applications sent to the page.
    void sendMyAppListToJS(std::function<void(qsizetype)> listed = {});
    void sendCustomCommandList();
    void myAppListRefreshAction();
    void startupAppWhenLoginWithStartup(bool on);
    void setIndicator(QLabel* label, QString* nameField, const QString& name);
    platform::Executor& mainQueue();
    std::shared_ptr<MMJsModel> jsModelShared();

    HRPSqliteOperation& database_;
    StartupHooks hooks_;
    platform::NotificationCenter& center_;
    Environment environment_;
    std::shared_ptr<MMJsModel> jsModel_;
    std::shared_ptr<MMpermissionCheck> permissionCheck_;
    std::unique_ptr<PageViewLifetime> pages_;
    bool startsHidden_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    QPointer<QWidget> view_;
    QPointer<NoticeArea> notices_;
    QPointer<QListWidget> leftMenuTableView_;
    QPointer<QLabel> versionLb_;
    QPointer<QLabel> deviceConnectModeImage_;
    QPointer<QLabel> connectLb_;
    QPointer<QLabel> batteryImgView_;
    QPointer<QLabel> batteryLb_;
    QPointer<QWidget> statusBox_;
    QPointer<QWidget> permissionTipsView_;
    QPointer<QLabel> permissionTipLb_;
    QPointer<QPushButton> permissionTipBtn_;
    QPointer<QWidget> AIVoiceSetView_;
    QPointer<QWidget> loadingView_;
    QPointer<QLabel> loadingViewText_;
    QPointer<ScriptMessageWebView> webView_;
    QPointer<WeakScriptMessageDelegate> relay_;
    QPointer<MMpermiWC> pmsWC_;

    QString connectImage_;
    QString batteryImage_;
    int leftTableViewSelectedIndex_ = 0;
    int selectedIndex_ = 0;
    bool usbStarted_ = false;
    bool bluetoothStarted_ = false;
    int usbWatcherStarts_ = 0;
    int bluetoothLinkStarts_ = 0;
    QString tipKey_; // the tip bar's text (interface-string key)
    qlonglong connectMode_ = 0;
    int guideWindowShows_ = 0;
    QStringList startupLog_;
    QStringList sentScripts_;
    std::vector<platform::ObserverToken> observers_;
};
