// PraVik: wires the libraries together and runs the event loop.
#include "analytics/base/APMMonitor.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/frontend/APMAnalytics.h"
#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASAnalyticsConnector.h"
#include "core/AppDelegate.h"
#include "core/BackendAddress.h"
#include "core/HRPSqliteOperation.h"
#include "core/MMUserInfo.h"
#include "platform/AppPaths.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/DesktopEntryInstaller.h"
#include "platform/DragMonitor.h"
#include "platform/GlobalHotkey.h"
#include "platform/LoginItem.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/Reachability.h"
#include "platform/SingleInstance.h"
#include "translate/MMsnipTransWC.h"
#include "translate/Selection.h"
#include "translate/SnipTranslationLauncher.h"
#include "ui/ApplicationWindows.h"
#include "ui/ChatWindowPresenter.h"
#include "ui/DeviceLinkWiring.h"
#include "ui/UWHomeViewController.h"
#include "ui/VoiceTranslationWiring.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <unistd.h>
#include <xcb/xcb.h>

// One running instance per user, or per PRAVIK_HOME when that is set (tests
// and demos run beside the user's own instance).
static QString instanceKey()
{
    const QByteArray home = qgetenv("PRAVIK_HOME");
    if (home.isEmpty())
        return QStringLiteral("pravik");
    return QStringLiteral("pravik-")
        + QString::fromLatin1(QCryptographicHash::hash(home, QCryptographicHash::Sha256).toHex().left(16));
}

static bool x11Reachable()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return ok;
}

static bool waylandReachable()
{
    const QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        return false;
    const QString socket = display.startsWith(u'/') ? display : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + display;
    return QFileInfo(socket).exists();
}

// The window system Qt will be asked for: "-platform" or QT_QPA_PLATFORM, as
// a list of plugin names without their options; empty when nobody asked.
static QStringList requestedPlatforms(int argc, char** argv)
{
    QString requested = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            requested = QString::fromLocal8Bit(argv[i + 1]);
    }
    QStringList names;
    for (const QString& entry : requested.split(u';', Qt::SkipEmptyParts))
        names << entry.section(u':', 0, 0).trimmed();
    return names;
}

// Qt aborts when its window-system plugin finds no display. Check first and
// say what is missing; empty when a window can be shown. With no platform
// asked for, no X display but a Wayland one, Qt is pointed at Wayland.
static QString missingDisplay(int argc, char** argv)
{
    const QStringList requested = requestedPlatforms(argc, argv);
    if (requested.isEmpty()) {
        if (x11Reachable())
            return {};
        if (waylandReachable()) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return {};
        }
    }
    for (const QString& name : requested) {
        if (name == QLatin1String("xcb")) {
            if (x11Reachable())
                return {};
        } else if (name.startsWith(QLatin1String("wayland"))) {
            if (waylandReachable())
                return {};
        } else {
            return {}; // offscreen, vnc, eglfs, ...: no display server needed
        }
    }
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    QString found = QStringLiteral("DISPLAY is %1, WAYLAND_DISPLAY is %2")
                        .arg(display.isEmpty() ? QStringLiteral("not set") : QStringLiteral("\"%1\" (cannot be opened)").arg(display),
                            wayland.isEmpty() ? QStringLiteral("not set") : QStringLiteral("\"%1\" (no such socket)").arg(wayland));
    if (!requested.isEmpty())
        found += QStringLiteral(", the window system asked for is \"%1\"").arg(requested.join(u';'));
    return QStringLiteral("PraVik needs a graphical session (X11 or Wayland) and found none: %1.\n"
                          "Start it from your desktop session, or without a screen under a virtual X server: "
                          "xvfb-run -a pravik\n")
        .arg(found);
}

// The main window's reach beyond the database: the secondary windows and
// services, start at login through the desktop's autostart folder.
static UWHomeViewController::Environment homeEnvironment(std::shared_ptr<ApplicationServices> services)
{
    UWHomeViewController::Environment environment;
    environment.services = std::move(services);
    environment.setLoginItem = [](bool on) {
        QString error;
        if (!platform::LoginItem::shared().setEnabled(on, &error))
            qWarning("Start at login could not be %s: %s", on ? "enabled" : "disabled", qUtf8Printable(error));
    };
    return environment;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// The browser engine's own library frees some objects with a size that the
// sanitizer cannot match; that is not this program's fault.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
#endif
#endif

int main(int argc, char** argv)
{
    if (const QString problem = missingDisplay(argc, argv); !problem.isEmpty()) {
        std::fputs(problem.toLocal8Bit().constData(), stderr);
        return 1;
    }
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        // The browser engine refuses to start its sandbox for root (a
        // container, a test machine); the settings pages are local only.
        std::fputs("PraVik runs as root: the settings pages' browser engine runs without its sandbox\n", stderr);
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (!qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        // Without the sandbox the engine's pre-started helper processes save
        // nothing but a few milliseconds per page, and they stay for the
        // program's life, long after the window that needed them has closed.
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-zygote"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-zygote").trimmed());
    }
    // A start says what matters to the person who started it: not the
    // browser engine's configuration dump, nor Qt Bluetooth's complaint about
    // a missing BlueZ (the missing adapter is said once by the permissions).
    // QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\n"
                                                    "qt.bluetooth.bluez.warning=false"));
    // The pages' frames drawn by the processor and put on screen with the
    // rest of the window: no graphics context to make before the first frame,
    // so a window appears drawn at once. QT_QUICK_BACKEND still overrides it.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // the settings pages' web engine asks for it
    QApplication app(argc, argv);
    platform::AppPaths::keepToolkitSettingsInPreferences(); // the file dialogs' state stays under PRAVIK_HOME
    APMMonitor::setLaunchArguments(QCoreApplication::arguments()); // read by the analytics monitor
    platform::Reachability::shared(); // probed here, on the thread its changes arrive on
    APMAnalytics::load(); // the analytics front end's load time
    BASAnalyticsConnector::load(); // announces the analytics library to the platform registry
    BASAnalytics::load(); // the analytics public interface counts as linked from here on
    QApplication::setApplicationName(QStringLiteral("PraVik"));
    QApplication::setApplicationVersion(MMUserInfo::myVersion());
    QApplication::setQuitOnLastWindowClosed(false); // closing the window leaves the status item
    // The analytics engine's load-time hook, and the application state it follows.
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications(platform::NotificationCenter::defaultCenter());
    platform::ApplicationStateNotifier applicationState(app, platform::NotificationCenter::defaultCenter());

    platform::SingleInstance instance(instanceKey());
    if (!instance.claim())
        return 0; // the running instance shows its window instead

    DeviceLinkWiring::connectLinks();
    VoiceTranslationWiring::connectTranslation();
    ChatWindowPresenter chat(ChatWindowPresenter::applicationFactory(), platform::MainQueue::shared());
    // Screenshot translation (hot key, click function) and selection translation.
    SnipTranslationLauncher translation({ platform::Preferences::standard(), MMUserInfo::sharedMMUserInfo().webConfig(),
        platform::GlobalHotkey::shared(), platform::DragMonitor::shared(), Selection::shared(),
        platform::MainQueue::shared(), platform::NotificationCenter::defaultCenter(),
        [] { return std::make_unique<MMsnipTransWC>(); } });
    const std::shared_ptr<ApplicationWindows> windows = ApplicationWindows::create(chat, translation);
    AppDelegate delegate(platform::StatusBar::create(),
                         [windows] {
                             return std::make_unique<UWHomeViewController>(
                                 HRPSqliteOperation::shareOperation(),
                                 UWHomeViewController::StartupHooks{&DeviceLinkWiring::beginMouseMonitor,
                                                                    &DeviceLinkWiring::makePermissionCheck,
                                                                    &DeviceLinkWiring::startUsbWatcher,
                                                                    &DeviceLinkWiring::startBluetoothLink,
                                                                    &DeviceLinkWiring::watchPermissions},
                                 platform::NotificationCenter::defaultCenter(), homeEnvironment(windows));
                         },
                         MMUserInfo::sharedMMUserInfo(), platform::Preferences::standard());
    instance.setReopenHandler(
        [&delegate] { delegate.applicationShouldHandleReopen(delegate.window() && delegate.window()->isVisible()); });
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();
    applicationState.postDidFinishLaunching();
    BackendAddress::checkUsable(BackendAddress::configured()); // told now, not only when a mouse appears
    translation.start();
    if (QCoreApplication::arguments().contains(QStringLiteral("--ble-debug")))
        windows->showBleDebugWindow(); // the Bluetooth link's diagnostic log
    if (qEnvironmentVariableIsEmpty("PRAVIK_HOME")) // a private home is a test or demo run: leave the menus alone
        AppDelegate::installDesktopLauncher(platform::DesktopEntryInstaller::dataHome());
    return QApplication::exec();
}
