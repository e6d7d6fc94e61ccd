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

// The main window's content controller. The first call of view() builds the
// view and runs the application's start-up: the two command tables and the
// notification observers.
class UWHomeViewController : public MainContentController {
public:
    static const QString kAppTable;    // "DBMyAppsoooCmdListKey"
    static const QString kCustomTable; // "DBCustomizeCmdList"

    // startDeviceLinks runs once the start-up reaches the device links (the
    // application starts the USB receiver watcher there; tests record it).
    explicit UWHomeViewController(HRPSqliteOperation& database, std::function<void()> startDeviceLinks = {},
                                  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~UWHomeViewController() override;

    QWidget* view() override;

    bool isViewLoaded() const { return view_ != nullptr; }
    // Start-up steps, in the order they ran (for diagnostics and tests).
    const QStringList& startupLog() const { return startupLog_; }

private:
    void viewDidLoad();
    void init_data();
    void canUSB();
    void registerObservers();
    void receivedUILanguageChangeNoti();
    void reloadTexts();

    HRPSqliteOperation& database_;
    std::function<void()> startDeviceLinks_;
    platform::NotificationCenter& center_;
    QPointer<QWidget> view_;
    QPointer<QLabel> title_;
    QStringList startupLog_;
    std::vector<platform::ObserverToken> observers_;
};
