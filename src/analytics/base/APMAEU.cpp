#include "analytics/base/APMAEU.h"

#include "platform/SystemFacts.h"

#include <QCoreApplication>
#include <QMetaType>

QString APMAEU::deviceModel(const platform::SystemFacts* facts)
{
    return (facts ? *facts : platform::SystemFacts::shared()).deviceModel();
}

QString APMAEU::systemVersion(const platform::SystemFacts* facts)
{
    return (facts ? *facts : platform::SystemFacts::shared()).osVersion();
}

QString APMAEU::appStoreRURL(const QVariantMap& infoDictionary)
{
    const QVariant check = infoDictionary.value(QLatin1String(kReceiptURLCheckEnabledKey));
    const int type = check.typeId();
    const bool isNumber = type == QMetaType::Bool || type == QMetaType::Int || type == QMetaType::LongLong
        || type == QMetaType::UInt || type == QMetaType::ULongLong || type == QMetaType::Double;
    if (isNumber && !check.toBool())
        return QString();
    return qEnvironmentVariable(kReceiptPathVariable);
}

bool APMAEU::isAEX(const QString& bundlePath)
{
    const QString path = bundlePath.isEmpty() ? QCoreApplication::applicationDirPath() : bundlePath;
    return path.endsWith(QLatin1String(kExtensionBundleSuffix));
}
