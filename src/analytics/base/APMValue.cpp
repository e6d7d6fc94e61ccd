#include "analytics/base/APMValue.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

const QString kNilValueMessage = QStringLiteral("Cannot create Value type with nil value");
const QString kUnsupportedValueMessage = QStringLiteral(
    "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString or "
    "NSArray (if supported). Value");
const QString kNilStringMessage = QStringLiteral("Cannot create String value with nil");
const QString kNonStringMessage = QStringLiteral("Cannot create String value with non-string value. Value");
const QString kNilArrayMessage = QStringLiteral("Cannot create Array value with nil");
const QString kNonArrayMessage = QStringLiteral("Cannot create Array value with non-array value. Value");

bool isNilValue(const QVariant& object)
{
    return !object.isValid() || object.metaType().id() == QMetaType::Nullptr;
}

bool isArrayKind(const QVariant& object)
{
    const int type = object.metaType().id();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList;
}

bool isRealKind(const QVariant& object)
{
    const int type = object.metaType().id();
    return type == QMetaType::Double || type == QMetaType::Float;
}

void logError(qint64 code, const QString& message)
{
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelError, code, message);
}

void logError(qint64 code, const QString& message, const QVariant& context)
{
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelError, code, message, context);
}

quint64 hashOf(const QVariant& value);

quint64 combine(quint64 seed, quint64 h)
{
    return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

// Consistent with QVariant equality as the values use it: numbers that
// compare equal (1 and 1.0 inside an array) hash alike.
quint64 hashOf(const QVariant& value)
{
    const int type = value.metaType().id();
    if (APMConfigStore::isNumber(value)) {
        const double d = value.toDouble();
        return static_cast<quint64>(qHash(d == 0.0 ? 0.0 : d));
    }
    if (type == QMetaType::QString)
        return static_cast<quint64>(qHash(value.toString()));
    if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
        quint64 h = 17;
        for (const QVariant& element : value.toList())
            h = combine(h, hashOf(element));
        return h;
    }
    if (type == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        quint64 h = 19;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            h = combine(combine(h, static_cast<quint64>(qHash(it.key()))), hashOf(it.value()));
        return h;
    }
    if (type == QMetaType::QByteArray)
        return static_cast<quint64>(qHash(value.toByteArray()));
    return static_cast<quint64>(type);
}

} // namespace

std::optional<APMValue> APMValue::valueFromObject(const QVariant& object)
{
    return valueFromObject(object, false);
}

std::optional<APMValue> APMValue::valueFromObject(const QVariant& object, bool allowArray)
{
    if (isNilValue(object)) {
        logError(35000, kNilValueMessage);
        return std::nullopt;
    }
    const int type = object.metaType().id();
    if (type == qMetaTypeId<APMValue>())
        return object.value<APMValue>();
    if (type == QMetaType::QString)
        return initWithString(object);
    if (isRealKind(object))
        return initWithDouble(object.toDouble());
    // An unsigned number past the int64 range has no faithful int64 reading.
    const bool unsignedTooLarge = (type == QMetaType::ULongLong || type == QMetaType::ULong)
        && object.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qint64>::max());
    if (APMConfigStore::isNumber(object) && !unsignedTooLarge)
        return initWithInt64(APMConfigStore::int64FromNumber(object));
    if (isArrayKind(object) && allowArray)
        return initWithArray(object);
    logError(35001, kUnsupportedValueMessage, object);
    return std::nullopt;
}

APMValue APMValue::initWithDouble(double value)
{
    return APMValue(Double, QVariant(value));
}

APMValue APMValue::initWithInt64(qint64 value)
{
    return APMValue(Int64, QVariant(static_cast<qlonglong>(value)));
}

std::optional<APMValue> APMValue::initWithString(const QVariant& value)
{
    if (isNilValue(value)) {
        logError(35002, kNilStringMessage);
        return std::nullopt;
    }
    if (value.metaType().id() != QMetaType::QString) {
        logError(35003, kNonStringMessage, value);
        return std::nullopt;
    }
    return APMValue(String, QVariant(value.toString()));
}

std::optional<APMValue> APMValue::initWithArray(const QVariant& value)
{
    if (isNilValue(value)) {
        logError(35004, kNilArrayMessage);
        return std::nullopt;
    }
    if (!isArrayKind(value)) {
        logError(35005, kNonArrayMessage, value);
        return std::nullopt;
    }
    // QVariantList copies are values: later changes to the caller's list do
    // not reach this one.
    return APMValue(Array, QVariant(value.toList()));
}

APMValue APMValue::initWithValueType(ValueType type, const QVariant& value)
{
    return APMValue(type, value);
}

APMValue::APMValue()
    : APMValue(Int64, QVariant(qlonglong(0)))
{
}

APMValue::APMValue(ValueType type, QVariant value)
    : type_(type)
    , value_(std::move(value))
{
}

double APMValue::doubleValue() const
{
    return type_ == Double && APMConfigStore::isNumber(value_) ? value_.toDouble() : 0.0;
}

qint64 APMValue::int64Value() const
{
    return type_ == Int64 ? APMConfigStore::int64FromNumber(value_) : 0;
}

QString APMValue::stringValue() const
{
    return type_ == String && value_.metaType().id() == QMetaType::QString ? value_.toString() : QString();
}

QVariantList APMValue::arrayValue() const
{
    return type_ == Array && isArrayKind(value_) ? value_.toList() : QVariantList();
}

QVariant APMValue::plainValue() const
{
    switch (type_) {
    case Double:
        return doubleValue();
    case Int64:
        return int64Value();
    case String:
        return stringValue();
    case Array:
        break;
    }
    return QVariant();
}

QString APMValue::description() const
{
    return APMMonitor::describedContext(value_);
}

bool APMValue::operator==(const APMValue& other) const
{
    return type_ == other.type_ && value_ == other.value_;
}

quint64 APMValue::hash() const
{
    return (static_cast<quint64>(type_) * 31u) ^ hashOf(value_);
}
