#include "voice/CommandBookmarks.h"

#include "platform/Preferences.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kFileScheme = QStringLiteral("file://");

// Only plain files and folders are command targets; devices, sockets and
// pipes are not something a voice command should hand to the desktop.
QString existingTarget(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    const QFileInfo resolved(canonical);
    return resolved.isFile() || resolved.isDir() ? canonical : QString();
}

} // namespace

QString CommandBookmarks::localPath(const QString& target)
{
    if (!target.startsWith(kFileScheme) || target.contains(QChar(0)))
        return {};
    const QString path = target.mid(kFileScheme.size());
    return path.startsWith(QLatin1Char('/')) ? path : QString();
}

std::optional<QVariant> CommandBookmarks::bookmarkEntry(const QString& target)
{
    const QString path = localPath(target);
    if (path.isNull())
        return std::nullopt;
    const QString canonical = existingTarget(path);
    return canonical.isEmpty() ? QVariant() : QVariant(canonical);
}

bool CommandBookmarks::storeBookmark(platform::Preferences& preferences, const QString& target)
{
    const std::optional<QVariant> entry = bookmarkEntry(target);
    if (!entry)
        return false;
    if (!entry->isValid()) {
        // Only a key of the target's own form is ever ours to remove.
        preferences.remove(target);
        return false;
    }
    return preferences.setValue(target, *entry);
}

QString CommandBookmarks::resolveBookmark(const platform::Preferences& preferences, const QString& target)
{
    if (localPath(target).isNull())
        return {};
    const QVariant stored = preferences.value(target);
    if (stored.typeId() != QMetaType::QString)
        return {};
    const QString path = stored.toString();
    if (!QDir::isAbsolutePath(path))
        return {};
    return existingTarget(path);
}
