#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class QGuiApplication;
class QWindow;

namespace platform {

class NotificationCenter;

// Tells the rest of the program, through named notifications, what the
// desktop does to the application: it finished launching, it became the
// active application or is about to stop being it, one of its windows lost
// the keyboard focus. Qt's application state and focus window are the
// sources; each change is posted once, in order, on the main thread.
class ApplicationStateNotifier final : public QObject {
    Q_OBJECT
public:
    static const QString kDidFinishLaunching; // "ApplicationDidFinishLaunching"
    static const QString kDidBecomeActive; // "ApplicationDidBecomeActive"
    static const QString kWillResignActive; // "ApplicationWillResignActive"
    // Object: the window's object name, or its class name when it has none.
    static const QString kWindowDidResignKey; // "WindowDidResignKey"

    // Follows the application's state from now on; nothing is posted
    // before the launch is.
    ApplicationStateNotifier(QGuiApplication& application, NotificationCenter& center);

    // The launch is the program's own to announce, once its start-up ran;
    // an application already active is then said to have become active.
    void postDidFinishLaunching(const QVariantMap& userInfo = {});

    // What a window is called in the notification's object.
    static QString windowName(const QWindow& window);

private:
    void applicationStateChanged(Qt::ApplicationState state);
    void focusWindowChanged(QWindow* window);

    NotificationCenter& center_;
    bool launched_ = false;
    bool active_ = false;
    QPointer<QWindow> focusWindow_;
};

} // namespace platform
