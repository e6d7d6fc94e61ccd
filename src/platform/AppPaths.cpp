#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

QString AppPaths::pravikHome()
{
    const QString home = qEnvironmentVariable("PRAVIK_HOME");
    return home.isEmpty() ? home : QFileInfo(home).absoluteFilePath();
}

void AppPaths::keepToolkitSettingsInPreferences()
{
    if (pravikHome().isEmpty())
        return;
    const QString folder = preferences();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

// An XDG base folder; relative values are invalid and ignored, as the base
// directory rules demand (they would scatter files by working directory).
static QString xdgBase(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.isEmpty() || QDir::isRelativePath(value))
        return QDir::homePath() + fallback;
    return value;
}

QString AppPaths::ensured(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

QString AppPaths::dataRoot()
{
    return xdgBase("XDG_DATA_HOME", QStringLiteral("/.local/share")) + QStringLiteral("/pravik");
}

QString AppPaths::documents()
{
    const QString home = pravikHome();
    return ensured((home.isEmpty() ? dataRoot() : home) + QStringLiteral("/Documents"));
}

QString AppPaths::applicationSupport()
{
    const QString home = pravikHome();
    return ensured((home.isEmpty() ? dataRoot() : home) + QStringLiteral("/Application Support"));
}

QString AppPaths::preferences()
{
    const QString home = pravikHome();
    if (!home.isEmpty())
        return ensured(home + QStringLiteral("/Preferences"));
    return ensured(xdgBase("XDG_CONFIG_HOME", QStringLiteral("/.config")) + QStringLiteral("/pravik"));
}

bool AppPaths::isInside(const QString& path, const QString& root)
{
    if (path.isEmpty() || root.isEmpty())
        return false;
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString r = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    if (!r.endsWith(QLatin1Char('/')))
        r += QLatin1Char('/');
    return p.startsWith(r) && p.size() > r.size();
}

} // namespace platform
