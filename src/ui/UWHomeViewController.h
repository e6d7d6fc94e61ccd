#pragma once

#include "core/MainContentController.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QLabel;
class QWidget;
class HRPSqliteOperation;
class NoticeArea;

// The main window's content controller. The first call of view() builds the
// view and runs the application's start-up: the two command tables, the
// press-code consumer, the permission check, the device links and the
// notification observers. The top of the view shows the notices of
// platform::UserNotices: those posted before it was built and every later one.
class UWHomeViewController : public MainContentController {
public:
    static const QString kAppTable;    // "DBMyAppsoooCmdListKey"
    static const QString kCustomTable; // "DBCustomizeCmdList"

    // What the start-up starts beyond the view and the tables: the consumer
    // of the mouse's press codes, the permission check (which installs the
    // key tap) and the device links. The application passes the real ones;
    // tests record them.
    struct StartupHooks {
        std::function<void()> beginMouseMonitor;
        std::function<void()> checkPermission;
        std::function<void()> startDeviceLinks;
    };

    explicit UWHomeViewController(HRPSqliteOperation& database, StartupHooks hooks = {},
                                  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~UWHomeViewController() override;

    QWidget* view() override;

    bool isViewLoaded() const { return view_ != nullptr; }
    // Start-up steps, in the order they ran (for diagnostics and tests).
    const QStringList& startupLog() const { return startupLog_; }
    // The texts of the notices shown, in order; empty before the view is built.
    QStringList noticeTexts() const;

    // Notice key of a command database that had to be replaced.
    static const QString kCommandDatabaseNotice;

private:
    void viewDidLoad();
    void showNotices();
    void init_data();
    void openCommandDatabase();
    void checkPermission();
    void canUSB();
    void registerObservers();
    void receivedUILanguageChangeNoti();
    void reloadTexts();

    HRPSqliteOperation& database_;
    StartupHooks hooks_;
    platform::NotificationCenter& center_;
    QPointer<QWidget> view_;
    QPointer<QLabel> title_;
    QPointer<NoticeArea> notices_;
    QStringList startupLog_;
    std::vector<platform::ObserverToken> observers_;
};
