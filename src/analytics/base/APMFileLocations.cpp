#include "analytics/base/APMFileLocations.h"

#include "analytics/base/APMError.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kLibraryFolder = QStringLiteral("Vireo/Measurement");
const QString kPlistExtension = QStringLiteral("plist");
const QString kEmptyPathDescription = QStringLiteral("Received empty path for deleting file");
const QString kDeleteFailedDescription = QStringLiteral("Failed to delete file at path");

QString withPlistExtension(const QString& name)
{
    return QFileInfo(name).suffix() == kPlistExtension ? name : name + QLatin1Char('.') + kPlistExtension;
}

} // namespace

QString APMApplicationSupportPath(const QString& name)
{
    if (name.isEmpty())
        return QString();
    return QDir(platform::AppPaths::applicationSupport()).filePath(kLibraryFolder + QLatin1Char('/') + name);
}

QString APMApplicationSupportPlistPath(const QString& name)
{
    if (name.isEmpty())
        return QString();
    return APMApplicationSupportPath(withPlistExtension(name));
}

QString APMPreferencesPlistPath(const QString& name)
{
    if (name.isEmpty())
        return QString();
    return QDir(platform::AppPaths::preferences()).filePath(name + QLatin1Char('.') + kPlistExtension);
}

bool APMDeleteFileAtPath(const QString& path, APMError* error)
{
    if (path.isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidArgument, kEmptyPathDescription);
        return false;
    }
    const QFileInfo info(path);
    bool removed = false;
    if (info.isDir() && !info.isSymLink())
        removed = QDir(path).removeRecursively();
    else
        removed = QFile::remove(path);
    if (!removed)
        APMSetErrorWithCode(error, APMError::InvalidState, kDeleteFailedDescription);
    return removed;
}
