#include "platform/Resources.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

static QString executableDir()
{
    // Works without a QCoreApplication (unit tests, early start-up).
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

QString Resources::root()
{
    const QString fromEnv = qEnvironmentVariable("PRAVIK_RESOURCES");
    if (!fromEnv.isEmpty() && QFileInfo(fromEnv).isDir())
        return QDir::cleanPath(QFileInfo(fromEnv).absoluteFilePath());
    const QString exe = executableDir();
    for (const QString& candidate : {exe + QStringLiteral("/resources"), exe + QStringLiteral("/../resources"),
                                     exe + QStringLiteral("/../share/pravik/resources")}) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return {};
}

QString Resources::path(const QString& relative)
{
    const QString base = root();
    if (base.isEmpty())
        return {};
    const QString full = QDir::cleanPath(base + QLatin1Char('/') + relative);
    // A relative path never leads out of the resource folder.
    if (!AppPaths::isInside(full, base) || !QFileInfo::exists(full))
        return {};
    return full;
}

std::optional<QByteArray> Resources::read(const QString& relative)
{
    const QString full = path(relative);
    if (full.isEmpty())
        return std::nullopt;
    QFile file(full);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace platform
