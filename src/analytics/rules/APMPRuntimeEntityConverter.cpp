#include "analytics/rules/APMPRuntimeEntityConverter.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/model/APMPEvent.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPNullValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"
#include "analytics/wire/APMPBRuntimeEntity.h"

#include <QMutex>
#include <QSet>

#include <cmath>
#include <cstring>
#include <limits>

using namespace APMPRuntimeError;

namespace APMPRuntimeEntityConverterLocal {

// Slots of the entity message, read straight from its decoded record so
// that a large program is not copied level by level.
constexpr std::size_t kTypeSlot = 0;
constexpr std::size_t kArgumentsSlot = 1;
constexpr std::size_t kStatementSlot = 2;
constexpr std::size_t kStringSlot = 3;
constexpr std::size_t kBooleanSlot = 4;
constexpr std::size_t kNumberSlot = 5;

const void* slotOf(const APMPBMessageInfo& record, std::size_t slot, uint32_t type)
{
    if ((record.fieldTypes[slot] & APMPBFieldTypeMask) != type)
        return nullptr;
    return record.values[slot];
}

template <class T> bool cellOf(const APMPBMessageInfo& record, std::size_t slot, uint32_t type, T* value)
{
    const void* cell = slotOf(record, slot, type);
    if (!cell)
        return false;
    std::memcpy(value, cell, sizeof(T));
    return true;
}

// A string slot: null when unset.
QString textOf(const APMPBMessageInfo& record, std::size_t slot)
{
    const auto* string = static_cast<const APMPBString*>(slotOf(record, slot, APMPBFieldString));
    if (!string)
        return QString();
    if (string->length == 0)
        return QLatin1String("");
    return QString::fromUtf8(reinterpret_cast<const char*>(string->bytes), static_cast<qsizetype>(string->length));
}

// Short texts of programs (names above all) are shared process-wide, so
// that a name read or called by a program and the name a scope stores it
// under are one string and compare at once.
QString interned(const QString& text)
{
    constexpr qsizetype kLongest = 64;
    constexpr qsizetype kMostShared = 16384;
    if (text.size() > kLongest)
        return text;
    static QMutex mutex;
    static QSet<QString> shared;
    const QMutexLocker lock(&mutex);
    const auto found = shared.constFind(text);
    if (found != shared.constEnd())
        return *found;
    if (shared.size() < kMostShared)
        shared.insert(text);
    return text;
}

APMPValue convert(const APMPBMessageInfo& record, int depth, APMError* error)
{
    if (depth > APMPLimits::kMaxEntityDepth) {
        set(error, LimitExceeded);
        return APMPUndefinedValue::sharedInstance();
    }
    int32_t type = 0;
    cellOf(record, kTypeSlot, APMPBFieldEnum, &type);
    switch (type) {
    case 1: {
        const QString text = textOf(record, kStringSlot);
        return std::make_shared<APMPStringValue>(interned(text.isNull() ? QString(QLatin1String("")) : text));
    }
    case 2: {
        double number = std::numeric_limits<double>::quiet_NaN();
        cellOf(record, kNumberSlot, APMPBFieldDouble, &number);
        return APMPNumberValue::valueWithDouble(number);
    }
    case 3: {
        uint8_t flag = 0;
        cellOf(record, kBooleanSlot, APMPBFieldBool, &flag);
        return APMPBooleanValue::booleanValueWithBool(flag != 0);
    }
    case 4:
        break;
    default:
        set(error, UnknownEntityType);
        return APMPUndefinedValue::sharedInstance();
    }
    // A function's name is looked up by every call of it.
    const QString name = interned(textOf(record, kStatementSlot));
    if (name.isEmpty()) {
        set(error, StatementWithoutFunctionName);
        return APMPUndefinedValue::sharedInstance();
    }
    APMPValueList arguments;
    if (const auto* repeated = static_cast<const APMPBRepeated*>(slotOf(record, kArgumentsSlot, APMPBFieldMessage))) {
        arguments.reserve(repeated->count);
        for (uint32_t i = 0; i < repeated->count; ++i) {
            const auto* element = static_cast<const APMPBMessageInfo*>(repeated->elements[i]);
            if (!element)
                continue;
            arguments.push_back(convert(*element, depth + 1, error));
            if (failed(error))
                return APMPUndefinedValue::sharedInstance();
        }
    }
    return std::make_shared<APMPStatementValue>(name, std::move(arguments));
}

bool isBooleanVariant(const QVariant& object)
{
    const int type = object.metaType().id();
    return type == QMetaType::Bool || type == QMetaType::Char || type == QMetaType::SChar || type == QMetaType::UChar;
}

bool isNumberVariant(const QVariant& object)
{
    return APMPIsIntegerVariant(object) || APMPIsFloatingVariant(object);
}

APMPValue fromObject(const QVariant& object, APMPScope& scope, int depth, APMError* error)
{
    if (depth > APMPLimits::kMaxConversionDepth) {
        set(error, LimitExceeded);
        return APMPUndefinedValue::sharedInstance();
    }
    if (!object.isValid() || object.isNull())
        return APMPNullValue::sharedInstance();
    if (object.metaType().id() == QMetaType::QString)
        return std::make_shared<APMPStringValue>(object.toString());
    if (isBooleanVariant(object))
        return APMPBooleanValue::booleanValueWithBool(object.toBool());
    if (isNumberVariant(object))
        return APMPNumberValue::valueWithDouble(object.toDouble());
    if (object.metaType().id() == QMetaType::QVariantMap) {
        const QVariantMap entries = object.toMap();
        const auto map = APMPObjectManager::mapValueWithScope(scope);
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            const APMPValue value = fromObject(it.value(), scope, depth + 1, error);
            if (failed(error))
                return APMPUndefinedValue::sharedInstance();
            map->setValueForProperty(value, it.key());
        }
        return map;
    }
    if (object.metaType().id() == QMetaType::QVariantList || object.metaType().id() == QMetaType::QStringList) {
        APMPValueList elements;
        for (const QVariant& element : object.toList()) {
            elements.push_back(fromObject(element, scope, depth + 1, error));
            if (failed(error))
                return APMPUndefinedValue::sharedInstance();
        }
        return APMPObjectManager::arrayValueWithArray(std::move(elements), scope, error);
    }
    set(error, UnsupportedNativeObject);
    return APMPUndefinedValue::sharedInstance();
}

} // namespace APMPRuntimeEntityConverterLocal

APMPValue APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const APMPBRuntimeEntity& entity, APMError* error)
{
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    return APMPRuntimeEntityConverterLocal::convert(*entity.messageInfo(), 0, out);
}

APMPValue APMPRuntimeEntityConverter::runtimeValueFromNSObject(const QVariant& object, APMPScope& scope, APMError* error)
{
    return APMPRuntimeEntityConverterLocal::fromObject(object, scope, 0, error);
}

QVariant APMPRuntimeEntityConverter::objectFromRuntimeValue(const APMPRuntimeValue& value, APMError* error)
{
    switch (value.kind()) {
    case APMPRuntimeValue::Kind::Null:
        return QVariant();
    case APMPRuntimeValue::Kind::Undefined:
        return QString(QLatin1String(""));
    case APMPRuntimeValue::Kind::Map:
        return dictionaryFromMapValue(static_cast<const APMPMapValue&>(value), error);
    case APMPRuntimeValue::Kind::Array: {
        const APMPNestingGuard guard(&value);
        if (guard.isCycle() || guard.tooDeep()) {
            set(error, LimitExceeded);
            return QVariantList();
        }
        QVariantList elements;
        for (const APMPValue& element : static_cast<const APMPArrayValue&>(value).allElements()) {
            elements << objectFromRuntimeValue(*element, error);
            if (failed(error))
                break;
        }
        return elements;
    }
    default:
        break;
    }
    APMError conversion;
    const double number = value.doubleValueOrError(&conversion);
    if (!failed(&conversion) && !std::isnan(number))
        return number;
    return value.stringValueOrError(error);
}

QVariantMap APMPRuntimeEntityConverter::dictionaryFromMapValue(const APMPMapValue& map, APMError* error)
{
    QVariantMap dictionary;
    const APMPNestingGuard guard(&map);
    if (guard.isCycle() || guard.tooDeep()) {
        set(error, LimitExceeded);
        return dictionary;
    }
    for (const QString& name : map.allPropertyNames()) {
        const QVariant object = objectFromRuntimeValue(*map.valueForProperty(name), error);
        if (failed(error))
            break;
        if (object.isValid())
            dictionary.insert(name, object);
    }
    return dictionary;
}
