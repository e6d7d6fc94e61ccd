#pragma once

#include "core/MainContentController.h"
#include "core/QtTranslations.h"
#include "platform/NotificationCenter.h"
#include "platform/StatusItem.h"

#include <QDateTime>
#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>


class MMUserInfo;
class WindowFrameAutosave;

namespace platform {
class Preferences;
}

// The application's entry point object: when launching has finished it
// redirects the log, installs the status-bar item, creates the main window
// controller, puts its view into the main window and, in background mode,
// closes the window again so the application lives in the status bar.
//
// The window appears with its page drawn, never as an empty panel: a page
// draws only in a shown window, so until the controller says its view is
// ready the window is shown beyond every screen, transparent and without
// taking the focus, and only then put in its place. The frame autosave never
// sees it there.
//
// Where the session has no status area (no system tray) nothing could bring
// a closed window back: there closing the window quits, and background mode
// does not hide it.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    using ControllerFactory = std::function<std::unique_ptr<MainContentController>()>;

    static const QString kHomeWindowAutoSaveName; // "HomeWindowAutoSaveName"
    static const QString kIconResource;

    AppDelegate(std::unique_ptr<platform::StatusBar> statusBar, ControllerFactory makeController,
                MMUserInfo& userInfo, platform::Preferences& defaults,
                platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~AppDelegate() override;

    // The delegate of the running application (the last one created).
    static AppDelegate* shared();

    QMainWindow* window() const { return window_; }
    // Shown and in its place (not waiting beyond the screens for its page).
    bool isWindowOnScreen() const;
    MainContentController* homeVC() const { return homeVC_.get(); }
    platform::StatusItem* statusItem() const { return statusItem_.get(); }

    // Tests that run inside a process with captured output turn this off.
    void setRedirectsLog(bool on) { redirectsLog_ = on; }

    void applicationDidFinishLaunching();
    // Whether the status item is shown somewhere the user can click it.
    bool hasStatusArea() const;
    // Reopening the running application: shows the window when none is visible.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationWillTerminate();

    void addStatusItem();
    void openApp();
    void hideApp();
    void exitApp();
    void refreshLog();

    // Creates Documents/Log and, when standard output is not a terminal,
    // points standard output and standard error at the launch's log file.
    // Returns the log file's path (also when nothing was redirected).
    static QString redirectLogToFile(const QDateTime& launchTime = QDateTime::currentDateTime());
    static QString logFileName(const QDateTime& launchTime);
    // Puts this program, with its icon, into the desktop's application menus
    // under dataHome (see platform::DesktopEntryInstaller); logs what it did.
    static bool installDesktopLauncher(const QString& dataHome);
    static const QString kLauncherId; // "pravik"
    static QString logHeader(const QDateTime& launchTime);

private:
    void showWhenReady(std::function<void()> show);
    // Shows the hidden window where nobody sees it, so its page draws.
    void stage();
    // Puts a staged window back in its place.
    void reveal();

    std::unique_ptr<platform::StatusBar> statusBar_;
    ControllerFactory makeController_;
    MMUserInfo& userInfo_;
    platform::Preferences& defaults_;
    platform::NotificationCenter& center_;
    QPointer<QMainWindow> window_;
    std::unique_ptr<MainContentController> homeVC_;
    std::unique_ptr<platform::StatusItem> statusItem_;
    platform::ObserverToken refreshLogObserver_;
    // Qt's own dialog texts follow the interface language from the start.
    QtTranslations qtTranslations_;
    platform::ObserverToken languageObserver_;
    bool redirectsLog_ = true;
    bool staged_ = false;
    QPoint place_; // where a staged window goes
    QPointer<WindowFrameAutosave> frameAutosave_; // deaf while the window is staged
};
