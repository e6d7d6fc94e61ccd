#include "fakes/ScreenShot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QStringList>

namespace fakes {

bool screenShotsWanted()
{
    return !qEnvironmentVariableIsEmpty("PRAVIK_SHOT_DIR");
}

namespace screen_shot {

const QStringList& languageNames()
{
    static const QStringList names { QStringLiteral("zh"), QStringLiteral("en"), QStringLiteral("id"),
        QStringLiteral("vi"), QStringLiteral("ko") };
    return names;
}

} // namespace screen_shot

quint64 screenShotLanguage()
{
    const QStringList& names = screen_shot::languageNames();
    const QString asked = qEnvironmentVariable("PRAVIK_SHOT_LANG").trimmed().toLower();
    if (const qsizetype named = names.indexOf(asked); named >= 0)
        return quint64(named);
    bool number = false;
    const uint index = asked.toUInt(&number);
    return number && index < uint(names.size()) ? index : 0;
}

QString screenShotLanguageName()
{
    return screen_shot::languageNames().at(qsizetype(screenShotLanguage()));
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
