#include "platform/ApplicationStateNotifier.h"

#include "platform/NotificationCenter.h"

#include <QGuiApplication>
#include <QWindow>

namespace platform {

const QString ApplicationStateNotifier::kDidFinishLaunching = QStringLiteral("ApplicationDidFinishLaunching");
const QString ApplicationStateNotifier::kDidBecomeActive = QStringLiteral("ApplicationDidBecomeActive");
const QString ApplicationStateNotifier::kWillResignActive = QStringLiteral("ApplicationWillResignActive");
const QString ApplicationStateNotifier::kWindowDidResignKey = QStringLiteral("WindowDidResignKey");

ApplicationStateNotifier::ApplicationStateNotifier(QGuiApplication& application, NotificationCenter& center)
    : center_(center)
    , focusWindow_(QGuiApplication::focusWindow())
{
    connect(&application, &QGuiApplication::applicationStateChanged, this,
        &ApplicationStateNotifier::applicationStateChanged);
    connect(&application, &QGuiApplication::focusWindowChanged, this,
        &ApplicationStateNotifier::focusWindowChanged);
}

void ApplicationStateNotifier::postDidFinishLaunching(const QVariantMap& userInfo)
{
    if (launched_)
        return;
    launched_ = true;
    center_.post(kDidFinishLaunching, {}, userInfo);
    applicationStateChanged(QGuiApplication::applicationState());
}

QString ApplicationStateNotifier::windowName(const QWindow& window)
{
    return window.objectName().isEmpty() ? QString::fromLatin1(window.metaObject()->className())
                                         : window.objectName();
}

void ApplicationStateNotifier::applicationStateChanged(Qt::ApplicationState state)
{
    // Hidden, inactive and suspended all mean someone else has the user.
    const bool active = state == Qt::ApplicationActive;
    if (!launched_ || active == active_)
        return;
    active_ = active;
    center_.post(active ? kDidBecomeActive : kWillResignActive);
}

void ApplicationStateNotifier::focusWindowChanged(QWindow* window)
{
    if (launched_ && focusWindow_ && focusWindow_ != window)
        center_.post(kWindowDidResignKey, windowName(*focusWindow_));
    focusWindow_ = window;
}

} // namespace platform
