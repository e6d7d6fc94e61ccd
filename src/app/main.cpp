// PraVik: wires the libraries together and runs the event loop.
#include "analytics/config/APMMonitor.h"
#include "core/AppDelegate.h"
#include "core/HRPSqliteOperation.h"
#include "core/MMUserInfo.h"
#include "platform/Preferences.h"
#include "platform/SingleInstance.h"
#include "ui/DeviceLinkWiring.h"
#include "ui/UWHomeViewController.h"

#include <QApplication>
#include <QCryptographicHash>

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

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    APMMonitor::setLaunchArguments(QCoreApplication::arguments()); // read by the analytics monitor
    QApplication::setApplicationName(QStringLiteral("PraVik"));
    QApplication::setApplicationVersion(MMUserInfo::myVersion());
    QApplication::setQuitOnLastWindowClosed(false); // closing the window leaves the status item

    platform::SingleInstance instance(instanceKey());
    if (!instance.claim())
        return 0; // the running instance shows its window instead

    DeviceLinkWiring::connectLinks();
    AppDelegate delegate(platform::StatusBar::create(),
                         [] {
                             return std::make_unique<UWHomeViewController>(
                                 HRPSqliteOperation::shareOperation(),
                                 UWHomeViewController::StartupHooks{&DeviceLinkWiring::beginMouseMonitor,
                                                                    &DeviceLinkWiring::checkPermission,
                                                                    &DeviceLinkWiring::startUsbWatcher});
                         },
                         MMUserInfo::sharedMMUserInfo(), platform::Preferences::standard());
    instance.setReopenHandler(
        [&delegate] { delegate.applicationShouldHandleReopen(delegate.window() && delegate.window()->isVisible()); });
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
