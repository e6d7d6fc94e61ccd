#pragma once

#include "core/MainContentController.h"
#include "platform/NotificationCenter.h"
#include "ui/DeviceLinkGate.h"
#include "ui/MMJsModel.h"
#include "ui/UWHomeView.h"

#include <QJsonValue>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class ApplicationServices;
class HRPSqliteOperation;
class MMpermissionCheck;
class ScriptMessageWebView;
class SettingsPagesHost;

namespace platform {
class Executor;
}

// What the controller reaches beyond the database; tests pass their own.
struct UWHomeEnvironment {
    // The page-data services, made when the model is first used.
    std::function<MMJsModel::Services()> pageServices; // none: the process-wide ones
    std::shared_ptr<ApplicationServices> services; // none: no secondary windows (tests)
    std::function<void(bool)> setLoginItem; // start at login on or off
    std::function<void(const QString&)> openUrl;
    // Tells the user something in a dialog over the main window: its title
    // and text. None: a message box.
    std::function<void(const QString& title, const QString& text)> tell;
    // Hears every page-function call sent, in order (tests); none: nobody.
    std::function<void(const QString& script)> pageCallSent;
    platform::Executor* mainQueue = nullptr; // none: the main queue
    QString pagesFolder; // none: the "h5" resources
    bool webView = true; // false: no pages (tests without a browser)
};

// The main window's content controller. The first call of view() builds the
// view (UWHomeView) and runs the application's start-up: the settings pages
// (SettingsPagesHost), the two command tables (CommandTables), the
// permission check (DeviceLinkGate: each device link starts as soon as what
// it needs is there), the press-code consumer and the notification
// observers. Afterwards it is the hub of the interface: it tells the view
// what to show (connection and battery, permission tip, loading overlay),
// dispatches the menu, the settings pages' messages and the notifications,
// and asks the application's services for the secondary windows.
class UWHomeViewController : public MainContentController {
public:
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

    UWHomeView* view() override;
    void setViewStartsHidden(bool hidden) override { startsHidden_ = hidden; }
    void whenReadyToShow(std::function<void()> show) override;
    bool isViewLoaded() const { return view_ != nullptr; }
    const QStringList& startupLog() const { return startupLog_; }
    QStringList noticeTexts() const;

    // Page messages, as the bridge delivers them.
    void userContentController(const QString& name, const QJsonValue& body);
    // The menu: row chosen by the user (also what a click does).
    void tableViewSelectionDidChange(int row);
    // The tip bar's button: the whole permission check again, and the guide.
    void permissionTipBtnAction();

    // The parts, for tests and diagnostics.
    const DeviceLinkGate& linkGate() const { return *gate_; }
    ScriptMessageWebView* webView() const;
    MMJsModel& jsModel();

private:
    void viewDidLoad();
    void init_ui();
    void init_data();
    void somethingNetWork();
    void withServices(void (ApplicationServices::*call)());
    void init_noti();
    void refreshUIData();
    void manualButtonAction();
    void reloadConnectImageNoti(const QVariant& object);
    void reloadDianciImageNoti();
    void webViewDidFinishNavigation();
    void js_ocSendMsgWithString(const QString& script);
    // A dialog over the main window with the buttons given (default: one
    // "confirm").
    void tell(const QString& title, const QString& text, const QStringList& buttons = {});
    void showDynamicTypingNotice();
    // `listed`, when given, runs on the main thread with the number of
    // applications sent to the page.
    void sendMyAppListToJS(std::function<void(qsizetype)> listed = {});
    void sendCustomCommandList();
    void myAppListRefreshAction();
    void startupAppWhenLoginWithStartup(bool on);
    platform::Executor& mainQueue();
    std::shared_ptr<MMJsModel> jsModelShared();

    HRPSqliteOperation& database_;
    StartupHooks hooks_;
    platform::NotificationCenter& center_;
    Environment environment_;
    std::shared_ptr<MMJsModel> jsModel_;
    std::unique_ptr<DeviceLinkGate> gate_;
    std::unique_ptr<SettingsPagesHost> pages_;
    bool startsHidden_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    QPointer<UWHomeView> view_;

    int selectedIndex_ = 0;
    qlonglong connectMode_ = 0;
    QStringList startupLog_;
    std::vector<platform::ObserverToken> observers_;
};
