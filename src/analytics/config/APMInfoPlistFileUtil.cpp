#include "analytics/config/APMInfoPlistFileUtil.h"

#include "analytics/base/APMError.h"
#include "platform/PropertyListCodec.h"
#include "platform/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

const QString APMInfoPlistFileUtil::kResourceName = QStringLiteral("VireoService-Info");
const QString APMInfoPlistFileUtil::kResourceType = QStringLiteral("plist");
const QString APMInfoPlistFileUtil::kVireoAppIDKey = QStringLiteral("VIREO_APP_ID");
const QString APMInfoPlistFileUtil::kAdNestAppIDKey = QStringLiteral("ADNEST_APP_ID");
const QString APMInfoPlistFileUtil::kBundleIdentifierKey = QStringLiteral("CFBundleIdentifier");
const QString APMInfoPlistFileUtil::kShortVersionKey = QStringLiteral("CFBundleShortVersionString");
const QString APMInfoPlistFileUtil::kBundleVersionKey = QStringLiteral("CFBundleVersion");

QStringList APMInfoPlistFileUtil::searchFolders()
{
    QStringList folders;
    const QString resources = platform::Resources::root();
    if (!resources.isEmpty())
        folders.append(resources);
    if (QCoreApplication::instance())
        folders.append(QCoreApplication::applicationDirPath());
    return folders;
}

QString APMInfoPlistFileUtil::vireoServiceInfoPlistPath()
{
    return vireoServiceInfoPlistPathInFolders(searchFolders());
}

QString APMInfoPlistFileUtil::vireoServiceInfoPlistPathInFolders(const QStringList& folders)
{
    const QString fileName = kResourceName + QLatin1Char('.') + kResourceType;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QString path = QDir(folder).filePath(fileName);
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

std::optional<QVariantMap> APMInfoPlistFileUtil::dictionaryFromVireoServiceInfoPlist(APMError* error)
{
    const QString path = vireoServiceInfoPlistPath();
    if (path.isEmpty())
        return std::nullopt;
    return dictionaryFromPlistAtPath(path, error);
}

std::optional<QVariantMap> APMInfoPlistFileUtil::dictionaryFromPlistAtPath(
    const QString& path, APMError* error)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            QStringLiteral("Cannot read the service configuration file %1").arg(path));
        return std::nullopt;
    }
    if (file.size() > kMaxFileSize) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            QStringLiteral("The service configuration file %1 is too large").arg(path));
        return std::nullopt;
    }
    QString reason;
    const auto value = platform::PropertyListCodec::fromXml(file.readAll(), &reason);
    if (!value) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            QStringLiteral("The service configuration file %1 is not a property list: %2").arg(path, reason));
        return std::nullopt;
    }
    if (value->typeId() != QMetaType::QVariantMap) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            QStringLiteral("The service configuration file %1 holds no dictionary").arg(path));
        return std::nullopt;
    }
    return value->toMap();
}

QVariantMap APMInfoPlistFileUtil::mainBundleInfoDictionary()
{
    const QString version = QCoreApplication::applicationVersion();
    return QVariantMap {
        { kBundleIdentifierKey, QCoreApplication::applicationName() },
        { kShortVersionKey, version },
        { kBundleVersionKey, version },
    };
}
