#include "platform/InstalledApplications.h"

#include "platform/DesktopEntry.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImageReader>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

namespace platform {
namespace {

const QString kApplicationsFolder = QStringLiteral("/applications");
const QString kApplicationType = QStringLiteral("Application");
const QString kFallbackTheme = QStringLiteral("/icons/hicolor/");
const QString kPixmapsFolder = QStringLiteral("/pixmaps/");
// Theme sizes to try, the size an icon is usually shown at first.
const int kThemeSizes[] = { 64, 48, 96, 128, 256, 512, 32, 24, 22, 16 };
const QStringList kPixmapSuffixes
    = { QStringLiteral(".png"), QStringLiteral(".svg"), QStringLiteral(".xpm") };

// An absolute, non-empty folder list from a colon-separated variable.
QStringList absoluteFolders(const QString& value)
{
    QStringList folders;
    for (const QString& folder : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(folder))
            folders.append(QDir::cleanPath(folder));
    }
    return folders;
}

bool overlaps(const QStringList& a, const QStringList& b)
{
    return std::any_of(
        a.begin(), a.end(), [&b](const QString& x) { return b.contains(x, Qt::CaseInsensitive); });
}

bool programPresent(const QString& program)
{
    if (QDir::isAbsolutePath(program)) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool isShown(const DesktopEntry& entry, const QStringList& currentDesktops)
{
    if (entry.value(QStringLiteral("Type")) != kApplicationType
        || entry.value(QStringLiteral("Name")).isEmpty() || entry.boolValue(QStringLiteral("NoDisplay"))
        || entry.boolValue(QStringLiteral("Hidden")) || entry.boolValue(QStringLiteral("Terminal"))
        || !entry.launchArguments())
        return false;
    const QStringList onlyShowIn = entry.listValue(QStringLiteral("OnlyShowIn"));
    if (!onlyShowIn.isEmpty() && !overlaps(onlyShowIn, currentDesktops))
        return false;
    if (overlaps(entry.listValue(QStringLiteral("NotShowIn")), currentDesktops))
        return false;
    const QString tryExec = entry.value(QStringLiteral("TryExec"));
    return tryExec.isEmpty() || programPresent(tryExec);
}

QImage readImage(const QString& path, int size)
{
    if (!QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > size || image.height() > size)
        image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

QStringList InstalledApplications::dataFolders()
{
    QStringList folders = absoluteFolders(qEnvironmentVariable("XDG_DATA_HOME"));
    if (folders.isEmpty())
        folders.append(QDir::homePath() + QStringLiteral("/.local/share"));
    QStringList system = absoluteFolders(qEnvironmentVariable("XDG_DATA_DIRS"));
    if (system.isEmpty())
        system = { QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share") };
    for (const QString& folder : system) {
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

QStringList InstalledApplications::currentDesktops()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

QString InstalledApplications::localeName()
{
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return value == QLatin1String("C") || value == QLatin1String("POSIX") ? QString() : value;
    }
    return {};
}

QList<InstalledApplication> InstalledApplications::list()
{
    return list(dataFolders(), localeName(), currentDesktops());
}

QList<InstalledApplication> InstalledApplications::list(
    const QStringList& dataFolders, const QString& localeName, const QStringList& currentDesktops)
{
    QList<InstalledApplication> applications;
    QSet<QString> seenIds;
    for (const QString& dataFolder : dataFolders) {
        const QDir root(dataFolder + kApplicationsFolder);
        if (!root.exists())
            continue;
        // Subfolders are walked, but symbolic links to folders are not
        // followed, so a link loop cannot trap the walk.
        QDirIterator it(
            root.path(), { QStringLiteral("*.desktop") }, QDir::Files, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        for (const QString& file : files) {
            const QString id = root.relativeFilePath(file).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIds.contains(id))
                continue;
            seenIds.insert(id);
            const std::optional<DesktopEntry> entry = DesktopEntry::read(file);
            if (!entry || !isShown(*entry, currentDesktops))
                continue;
            applications.append({ entry->localizedValue(QStringLiteral("Name"), localeName),
                QFileInfo(file).absoluteFilePath(), entry->value(QStringLiteral("Icon")) });
        }
    }
    std::sort(applications.begin(), applications.end(),
        [](const InstalledApplication& a, const InstalledApplication& b) {
            const int byName = QString::compare(a.displayName, b.displayName, Qt::CaseInsensitive);
            return byName != 0 ? byName < 0 : a.path < b.path;
        });
    return applications;
}

QImage InstalledApplications::iconImage(const QString& icon, int size, const QStringList& dataFolders)
{
    if (icon.isEmpty() || size <= 0 || icon.contains(QChar(0)))
        return {};
    if (QDir::isAbsolutePath(icon))
        return readImage(icon, size);
    // A theme name is a plain file name; anything with a folder in it is not one.
    if (icon.contains(QLatin1Char('/')) || icon == QLatin1String(".") || icon == QLatin1String(".."))
        return {};
    for (const int themeSize : kThemeSizes) {
        const QString folder = QStringLiteral("%1x%1/apps/").arg(themeSize);
        for (const QString& dataFolder : dataFolders) {
            const QImage image
                = readImage(dataFolder + kFallbackTheme + folder + icon + QStringLiteral(".png"), size);
            if (!image.isNull())
                return image;
        }
    }
    for (const QString& dataFolder : dataFolders) {
        const QImage image = readImage(
            dataFolder + kFallbackTheme + QStringLiteral("scalable/apps/") + icon + QStringLiteral(".svg"),
            size);
        if (!image.isNull())
            return image;
    }
    for (const QString& dataFolder : dataFolders) {
        // Older entries name the file with its extension.
        QStringList names { icon };
        for (const QString& suffix : kPixmapSuffixes)
            names.append(icon + suffix);
        for (const QString& name : names) {
            const QImage image = readImage(dataFolder + kPixmapsFolder + name, size);
            if (!image.isNull())
                return image;
        }
    }
    return {};
}

} // namespace platform
