#include "fakes/ScreenShot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace fakes {

bool screenShotsWanted()
{
    return !qEnvironmentVariableIsEmpty("PRAVIK_SHOT_DIR");
}

QString saveScreenShot(const QString& name)
{
    if (!screenShotsWanted())
        return {};
    // Give the window system time to map and paint what was just shown.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 700)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QDir folder(qEnvironmentVariable("PRAVIK_SHOT_DIR"));
    folder.mkpath(QStringLiteral("."));
    const QString path = folder.absoluteFilePath(name + QStringLiteral(".png"));
    return screen->grabWindow(0).save(path) ? path : QString();
}

} // namespace fakes
