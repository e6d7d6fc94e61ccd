#include "analytics/base/APMConfigStore.h"

#include "platform/PropertyListCodec.h"

#include <QDateTime>

#include <cmath>
#include <limits>

namespace {

bool isTopLevelKind(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QVariantMap:
    case QMetaType::QDateTime:
    case QMetaType::QByteArray:
        return true;
    default:
        return APMConfigStore::isNumber(value);
    }
}

} // namespace

std::optional<QVariantList> APMConfigStore::arrayForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    const int type = object.metaType().id();
    if (type == QMetaType::QVariantList || type == QMetaType::QStringList)
        return object.toList();
    return std::nullopt;
}

std::optional<QVariantMap> APMConfigStore::dictionaryForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    if (object.metaType().id() == QMetaType::QVariantMap)
        return object.toMap();
    return std::nullopt;
}

QString APMConfigStore::stringForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    if (object.metaType().id() == QMetaType::QString)
        return object.toString();
    return QString();
}

QVariant APMConfigStore::numberForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    return isNumber(object) ? object : QVariant();
}

qint64 APMConfigStore::integerForKey(const QString& key)
{
    return int64FromNumber(objectForKey(key));
}

float APMConfigStore::floatForKey(const QString& key)
{
    return static_cast<float>(doubleForKey(key));
}

double APMConfigStore::doubleForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    return isNumber(object) ? object.toDouble() : 0.0;
}

bool APMConfigStore::boolForKey(const QString& key)
{
    const QVariant object = objectForKey(key);
    if (!isNumber(object))
        return false;
    if (object.metaType().id() == QMetaType::Double || object.metaType().id() == QMetaType::Float)
        return object.toDouble() != 0.0;
    return int64FromNumber(object) != 0;
}

bool APMConfigStore::setFloat(float value, const QString& key)
{
    return setObject(QVariant(static_cast<double>(value)), key);
}

bool APMConfigStore::setDouble(double value, const QString& key)
{
    return setObject(QVariant(value), key);
}

bool APMConfigStore::setInteger(qint64 value, const QString& key)
{
    return setObject(QVariant(static_cast<qlonglong>(value)), key);
}

bool APMConfigStore::setBool(bool value, const QString& key)
{
    return setObject(QVariant(value), key);
}

bool APMConfigStore::removeObjectForKey(const QString& key)
{
    return setObject(QVariant(), key);
}

bool APMConfigStore::isNumber(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

qint64 APMConfigStore::int64FromNumber(const QVariant& value)
{
    if (!isNumber(value))
        return 0;
    const int type = value.metaType().id();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        const double d = value.toDouble();
        if (std::isnan(d))
            return 0;
        // 2^63 is exactly representable; anything at or above it saturates.
        if (d >= 9223372036854775808.0)
            return std::numeric_limits<qint64>::max();
        if (d < -9223372036854775808.0)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(d);
    }
    if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
        const qulonglong u = value.toULongLong();
        return u > static_cast<qulonglong>(std::numeric_limits<qint64>::max())
            ? std::numeric_limits<qint64>::max()
            : static_cast<qint64>(u);
    }
    return value.toLongLong();
}

bool APMConfigStore::isValidValue(const QVariant& value)
{
    return isTopLevelKind(value) && platform::PropertyListCodec::isSupported(value);
}
