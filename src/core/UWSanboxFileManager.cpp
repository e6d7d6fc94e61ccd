#include "core/UWSanboxFileManager.h"

#include "platform/AppPaths.h"
#include "platform/Workspace.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr QDir::Filters kEveryEntry = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

} // namespace

UWSanboxFileManager& UWSanboxFileManager::sharedManager()
{
    static UWSanboxFileManager manager;
    return manager;
}

QString UWSanboxFileManager::getAFilePathBasedOnAFileName(const QString& fileName) const
{
    const QStringList parts = fileName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString documents = getDocumentPath();
    return parts.isEmpty() ? documents : documents + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

std::optional<QString> UWSanboxFileManager::resolvedInsideDocuments(const QString& path) const
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    QString absolute = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    while (absolute.size() > 1 && absolute.endsWith(QLatin1Char('/')))
        absolute.chop(1);
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    const QString name = absolute.mid(slash + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return std::nullopt;
    // The folder part is resolved by the file system itself, so "..", links
    // and "link/.." all count where they really lead. The last part is kept
    // as it is: a link there is the item itself, never its target.
    const QString folder
        = QFileInfo(slash <= 0 ? QStringLiteral("/") : absolute.left(slash)).canonicalFilePath();
    const QString documents = QFileInfo(getDocumentPath()).canonicalFilePath();
    if (folder.isEmpty() || documents.isEmpty())
        return std::nullopt;
    if (folder != documents && !folder.startsWith(documents + QLatin1Char('/')))
        return std::nullopt;
    return folder + QLatin1Char('/') + name;
}

bool UWSanboxFileManager::removeItem(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

std::unique_ptr<QFile> UWSanboxFileManager::createFileHandleWithPath(const QString& path, bool isAppend) const
{
    const std::optional<QString> target = resolvedInsideDocuments(path);
    if (!target)
        return nullptr;
    const QFileInfo info(*target);
    if (!isAppend && (info.exists() || info.isSymLink()))
        removeItem(*target);
    // O_NOFOLLOW: a link put in place of the file is not written through.
    const int fd = ::open(
        QFile::encodeName(*target).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

QString UWSanboxFileManager::getDocumentPath() const
{
    return platform::AppPaths::documents();
}

QString UWSanboxFileManager::getSanboxDocumentPath() const
{
    return platform::AppPaths::documents();
}

std::optional<QStringList> UWSanboxFileManager::getAllFileNamesInDocument() const
{
    const QString documents = getSanboxDocumentPath();
    const QFileInfo info(documents);
    if (!info.isDir() || !info.isReadable())
        return std::nullopt;
    return QDir(documents).entryList(kEveryEntry, QDir::Name);
}

QString UWSanboxFileManager::getCacheSizeInDocument() const
{
    double bytes = 0;
    QDirIterator it(getDocumentPath(), kEveryEntry, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() || info.isDir())
            continue;
        bytes += static_cast<double>(qMax<qint64>(0, info.size()));
    }
    return QString::asprintf("%.2f M", bytes / 1024.0 / 1024.0);
}

bool UWSanboxFileManager::clearCacheInDocument() const
{
    const std::optional<QStringList> names = getAllFileNamesInDocument();
    if (!names)
        return false;
    const QString documents = getSanboxDocumentPath();
    bool allRemoved = true;
    for (const QString& name : *names) {
        if (!removeItem(documents + QLatin1Char('/') + name))
            allRemoved = false;
    }
    return allRemoved;
}

bool UWSanboxFileManager::deleteFileWithFilePath(const QString& path) const
{
    const std::optional<QString> target = resolvedInsideDocuments(path);
    if (!target)
        return false;
    const QFileInfo info(*target);
    if (!info.exists() && !info.isSymLink())
        return false;
    return removeItem(*target);
}

void UWSanboxFileManager::openDocumentsDirectory() const
{
    platform::Workspace::shared().openUrl(QUrl::fromLocalFile(getDocumentPath()));
}
