#include "analytics/model/APMEvent.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/model/APMPEvent.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBWireWriter.h"

#include <limits>
#include <vector>

namespace {

using V = APMDataTypeValidator;
namespace N = APMEventNames;

const QString kEventForwardedOriginSuffix = QStringLiteral("+vtm");
// The origin of an edited event that does not say where it came from.

// Room reserved for an event's wire form: most events fit.
constexpr qsizetype kProtoBytesCapacity = 256;

// Slots of the event message.
constexpr int32_t kEventParamsSlot = 0;
constexpr int32_t kEventNameSlot = 1;
constexpr int32_t kEventTimestampSlot = 2;
constexpr int32_t kEventPreviousTimestampSlot = 3;
// Slots of the event-parameter message.
constexpr int32_t kParamNameSlot = 0;
constexpr int32_t kParamStringSlot = 1;
constexpr int32_t kParamIntSlot = 2;
constexpr int32_t kParamDoubleSlot = 4;
constexpr int32_t kParamArraySlot = 5;
// Field numbers of the same messages, for writing them directly.
constexpr uint32_t kEventParamsField = 1;
constexpr uint32_t kEventNameField = 2;
constexpr uint32_t kEventTimestampField = 3;
constexpr uint32_t kEventPreviousTimestampField = 4;
constexpr uint32_t kParamNameField = 1;
constexpr uint32_t kParamStringField = 2;
constexpr uint32_t kParamIntField = 3;
constexpr uint32_t kParamDoubleField = 5;
constexpr uint32_t kParamArrayField = 6;

bool isValue(const QVariant& object)
{
    return object.metaType() == QMetaType::fromType<APMValue>();
}

void setScalarValue(APMPBEventParam* param, const APMValue& value)
{
    switch (value.valueType()) {
    case APMValue::Double:
        APMPBSetDoubleField(param, kParamDoubleSlot, value.doubleValue());
        break;
    case APMValue::Int64:
        APMPBSetInt64Field(param, kParamIntSlot, value.int64Value());
        break;
    case APMValue::String:
        APMPBSetStringField(param, kParamStringSlot, value.stringValue());
        break;
    case APMValue::Array:
        break;
    }
}

// The fields of one element of an item array that go on the wire: its
// scalar values by name. Nothing, logged, when the item is not a dictionary;
// values of other kinds and nested arrays stay out, logged. Only one level
// of nesting goes on the wire.
std::optional<std::vector<std::pair<QString, APMValue>>> itemFields(
    const QVariant& item, const QString& eventName, const QString& paramName)
{
    const auto invalidValue = [&] {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 16005,
            QStringLiteral("Invalid event param value. Event name, param name"),
            APMEventNameForLog(eventName), APMParameterNameForLog(paramName));
    };
    if (item.metaType().id() != QMetaType::QVariantMap) {
        invalidValue();
        return std::nullopt;
    }
    std::vector<std::pair<QString, APMValue>> fields;
    const QVariantMap map = item.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (!isValue(*it)) {
            invalidValue();
            continue;
        }
        APMValue value = it->value<APMValue>();
        if (value.isArray()) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 16007,
                QStringLiteral("Nested params cannot have more than 1 level. Event name, param name"),
                APMEventNameForLog(eventName), APMParameterNameForLog(paramName));
            continue;
        }
        fields.emplace_back(it.key(), std::move(value));
    }
    return fields;
}

// One element of an item array as a parameter message whose own array holds
// the element's parameters.
std::unique_ptr<APMPBEventParam> itemParam(
    const QVariant& item, const QString& eventName, const QString& paramName)
{
    const auto itemValues = itemFields(item, eventName, paramName);
    if (!itemValues)
        return nullptr;
    std::unique_ptr<APMPBEventParam> element = APMPBEventParam::initWithMessageInfo();
    if (!element)
        return nullptr;
    std::vector<std::unique_ptr<APMPBEventParam>> fields;
    for (const auto& [name, value] : *itemValues) {
        std::unique_ptr<APMPBEventParam> field = APMPBEventParam::initWithMessageInfo();
        if (!field)
            return nullptr;
        APMPBSetStringField(field.get(), kParamNameSlot, name);
        setScalarValue(field.get(), value);
        fields.push_back(std::move(field));
    }
    APMPBSetArrayField(element.get(), kParamArraySlot, std::move(fields));
    return element;
}

// The same value as setScalarValue() sets, written straight to the wire.
void writeScalarValue(APMPBWireWriter& out, const APMValue& value)
{
    switch (value.valueType()) {
    case APMValue::Double:
        out.writeDoubleField(kParamDoubleField, value.doubleValue());
        break;
    case APMValue::Int64:
        out.writeInt64Field(kParamIntField, value.int64Value());
        break;
    case APMValue::String:
        out.writeStringField(kParamStringField, value.stringValue());
        break;
    case APMValue::Array:
        break;
    }
}

// An item of an array as a plain dictionary; nested arrays and values of
// other kinds stay out.
QVariantMap plainItem(const QVariant& item)
{
    QVariantMap plain;
    const QVariantMap map = item.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (!isValue(*it) || it->value<APMValue>().isArray())
            continue;
        plain.insert(it.key(), it->value<APMValue>().plainValue());
    }
    return plain;
}

void removeErrorParameters(EventParameters& parameters)
{
    parameters.remove(N::kErrorParameter);
    parameters.remove(N::kErrorValueParameter);
    parameters.remove(N::kErrorLengthParameter);
}

bool hasErrorParameters(const EventParameters& parameters)
{
    return parameters.contains(N::kErrorParameter) || parameters.contains(N::kErrorValueParameter)
        || parameters.contains(N::kErrorLengthParameter);
}

} // namespace

std::optional<APMEvent> APMEvent::initWithOrigin(const QString& origin, bool isPublic, const QString& name,
    double timestamp, double previousTimestamp, const QVariantMap& parameters,
    const EventParameterLimits& limits)
{
    const bool originValid = origin.endsWith(kEventForwardedOriginSuffix)
        ? V::isValidForwardedEventOrigin(origin, nullptr)
        : V::isValidInternalEventOrigin(origin, nullptr);
    if (!originValid)
        return std::nullopt;
    if (isPublic && !V::isValidPublicEventName(name, nullptr))
        return std::nullopt;
    if (!V::isValidInternalEventName(name, nullptr))
        return std::nullopt;
    return make(origin, isPublic, name, timestamp, previousTimestamp, parameters, limits);
}

APMEvent APMEvent::make(const QString& origin, bool isPublic, const QString& name, double timestamp,
    double previousTimestamp, const QVariantMap& parameters, const EventParameterLimits& limits)
{
    if (previousTimestamp > timestamp)
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 16002,
            QStringLiteral("Event created with previous timestamp after current timestamp"));
    APMEvent event;
    event.origin_ = origin;
    event.name_ = name;
    event.timestamp_ = timestamp;
    event.previousTimestamp_ = previousTimestamp;
    event.limits_ = limits;
    event.parameters_
        = APMCleanEventParameters(parameters, name, isPublic, false, limits).value_or(EventParameters());
    event.parameters_.insert(N::kOriginParameter, APMValue::initWithValueType(APMValue::String, origin));
    if (event.shouldValidateParams() && !APMCheckValueAndCurrency(event.parameters_))
        event.parameters_.remove(N::kConversionParameter);
    return event;
}

APMEvent APMEvent::copyWithPreviousTimestamp(double previousTimestamp) const
{
    return make(origin_, false, name_, timestamp_, previousTimestamp,
        APMVariantMapFromParameters(parameters_), limits_);
}

APMEvent APMEvent::copyWithParameters(const QVariantMap& parameters) const
{
    return make(origin_, false, name_, timestamp_, previousTimestamp_, parameters, limits_);
}

bool APMEvent::shouldValidateParams() const
{
    return isConversion() || name_ == N::kAdImpressionEvent || name_ == N::kAdImpressionInternalEvent;
}

bool APMEvent::hasInt64One(const QString& key) const
{
    const auto it = parameters_.constFind(key);
    return it != parameters_.cend() && it->isInt64() && it->int64Value() == 1;
}

void APMEvent::setFlag(const QString& key, bool on)
{
    if (on)
        parameters_.insert(key, APMValue::initWithInt64(1));
    else
        parameters_.remove(key);
}

bool APMEvent::isConversion() const
{
    return hasInt64One(N::kConversionParameter);
}

void APMEvent::setConversion(bool conversion)
{
    if (conversion) {
        if (!APMCheckValueAndCurrency(parameters_))
            return;
        setFlag(N::kConversionParameter, true);
        const auto error = parameters_.constFind(N::kErrorParameter);
        if (error != parameters_.cend() && error->isInt64()
            && error->int64Value() == APMEventErrorCodeConversionEventLimitReached)
            parameters_.remove(N::kErrorParameter);
        return;
    }
    if (!parameters_.contains(N::kConversionParameter))
        return;
    parameters_.remove(N::kConversionParameter);
    APMSetErrorCodeIfAbsent(parameters_, APMEventErrorCodeConversionEventLimitReached);
}

bool APMEvent::isRealtime() const
{
    const auto it = parameters_.constFind(N::kRealtimeParameter);
    if (it == parameters_.cend())
        return false;
    if (!it->isInt64()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 16006,
            QStringLiteral("Realtime parameter must be an int64. Event name"), name_);
        return false;
    }
    return it->int64Value() == 1;
}

void APMEvent::setRealtime(bool realtime)
{
    setFlag(N::kRealtimeParameter, realtime);
}

bool APMEvent::isDebug() const
{
    return hasInt64One(N::kDebugParameter);
}

void APMEvent::setDebug(bool debug)
{
    setFlag(N::kDebugParameter, debug);
}

void APMEvent::applyParameters(const QVariantMap& parameters)
{
    std::optional<EventParameters> merged = APMCleanParameters(parameters, true, limits_);
    if (!merged || merged->isEmpty())
        return;
    // The event's own error description is the first one; it stays whole.
    if (hasErrorParameters(parameters_))
        removeErrorParameters(*merged);
    merged->insert(parameters_);
    parameters_ = std::move(*merged);
}

bool APMEvent::addScreenParameters(const QVariantMap& screen)
{
    if (screen.isEmpty() || APMHasScreenParameters(parameters_) || !screen.contains(N::kScreenIDParameter))
        return false;

    // A screen class or name is optional, but when given it must be a usable text.
    const auto screenText
        = [&](const QString& key, qint64 code, const QString& message, std::optional<QString>* text) {
              const auto it = screen.constFind(key);
              if (it == screen.cend())
                  return true;
              QString candidate;
              if (it->metaType().id() == QMetaType::QString)
                  candidate = it->toString();
              else if (isValue(*it) && it->value<APMValue>().isString())
                  candidate = it->value<APMValue>().stringValue();
              else
                  return false;
              if (!V::isValidScreenParameterValue(candidate, limits_, nullptr)) {
                  APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarning, code, message, *it);
                  return false;
              }
              *text = candidate;
              return true;
          };

    std::optional<QString> screenClass;
    if (!screenText(
            N::kScreenClassParameter, 16003, QStringLiteral("Received invalid screen class"), &screenClass))
        return false;
    const QVariant id = screen.value(N::kScreenIDParameter);
    const bool idUsable = isValue(id) ? id.value<APMValue>().isInt64() : APMConfigStore::isNumber(id);
    if (!idUsable)
        return false;
    std::optional<QString> screenName;
    if (!screenText(
            N::kScreenNameParameter, 16004, QStringLiteral("Received invalid screen name"), &screenName))
        return false;
    const std::optional<APMValue> idValue = APMValue::valueFromObject(id);
    if (!idValue)
        return false;

    parameters_.insert(N::kScreenIDParameter, *idValue);
    if (screenClass)
        parameters_.insert(
            N::kScreenClassParameter, APMValue::initWithValueType(APMValue::String, *screenClass));
    if (screenName)
        parameters_.insert(
            N::kScreenNameParameter, APMValue::initWithValueType(APMValue::String, *screenName));
    return true;
}

std::optional<qint64> APMMillisecondsFromSeconds(double seconds)
{
    return APMCheckedInt64(seconds * 1000.0);
}

std::optional<APMEvent> APMEvent::initWithEventProto(
    const APMPBEvent& proto, const EventParameterLimits& limits)
{
    const QString name = APMPBGetStringField(&proto, kEventNameSlot);
    const double timestamp = static_cast<double>(APMPBGetInt64Field(&proto, kEventTimestampSlot)) / 1000.0;
    const double previousTimestamp
        = static_cast<double>(APMPBGetInt64Field(&proto, kEventPreviousTimestampSlot)) / 1000.0;

    QString origin;
    QVariantMap parameters;
    for (const auto& param : APMPBGetArrayField<APMPBEventParam>(&proto, kEventParamsSlot)) {
        const QString paramName = APMPBGetStringField(param.get(), kParamNameSlot);
        if (paramName.isNull()) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 15000,
                QStringLiteral("Ignoring parameter. Parameter name is nil. Event name"),
                APMEventNameForLog(name));
            continue;
        }
        if (paramName == N::kOriginParameter) {
            if (!APMPBHasField(param.get(), kParamStringSlot)) {
                APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 15001,
                    QStringLiteral(
                        "Cannot create an event from event proto. Origin parameter is not a string. "
                        "Event name"),
                    APMEventNameForLog(name));
                return std::nullopt;
            }
            origin = APMPBGetStringField(param.get(), kParamStringSlot);
            continue;
        }
        std::optional<APMValue> value;
        if (APMPBHasField(param.get(), kParamStringSlot)) {
            // Stored text that is not UTF-8 reads as null: no value, which the
            // wire form could not carry back.
            if (const QString text = APMPBGetStringField(param.get(), kParamStringSlot); !text.isNull())
                value = APMValue::initWithValueType(APMValue::String, text);
        } else if (APMPBHasField(param.get(), kParamIntSlot))
            value = APMValue::initWithInt64(APMPBGetInt64Field(param.get(), kParamIntSlot));
        else if (APMPBHasField(param.get(), kParamDoubleSlot))
            value = APMValue::initWithDouble(APMPBGetDoubleField(param.get(), kParamDoubleSlot));
        if (!value) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 15002,
                QStringLiteral(
                    "Unknown event parameter type from converting an event proto into APMEvent instance. "
                    "Event param name"),
                APMParameterNameForLog(paramName));
            continue;
        }
        parameters.insert(paramName, QVariant::fromValue(*value));
    }
    return initWithOrigin(origin, false, name, timestamp, previousTimestamp, parameters, limits);
}

std::unique_ptr<APMPBEvent> APMEvent::protoEvent() const
{
    std::unique_ptr<APMPBEvent> proto = APMPBEvent::initWithMessageInfo();
    if (!proto)
        return nullptr;
    APMPBSetStringField(proto.get(), kEventNameSlot, name_);
    if (previousTimestamp_ > std::numeric_limits<double>::epsilon()) {
        if (const std::optional<qint64> millis = APMMillisecondsFromSeconds(previousTimestamp_))
            APMPBSetInt64Field(proto.get(), kEventPreviousTimestampSlot, *millis);
    }
    if (const std::optional<qint64> millis = APMMillisecondsFromSeconds(timestamp_))
        APMPBSetInt64Field(proto.get(), kEventTimestampSlot, *millis);

    std::vector<std::unique_ptr<APMPBEventParam>> params;
    for (auto it = parameters_.cbegin(); it != parameters_.cend(); ++it) {
        std::unique_ptr<APMPBEventParam> param = APMPBEventParam::initWithMessageInfo();
        if (!param)
            return nullptr;
        APMPBSetStringField(param.get(), kParamNameSlot, it.key());
        if (it->isArray()) {
            std::vector<std::unique_ptr<APMPBEventParam>> elements;
            for (const QVariant& item : it->arrayValue()) {
                std::unique_ptr<APMPBEventParam> element = itemParam(item, name_, it.key());
                if (!element)
                    continue;
                elements.push_back(std::move(element));
            }
            APMPBSetArrayField(param.get(), kParamArraySlot, std::move(elements));
        } else {
            setScalarValue(param.get(), *it);
        }
        params.push_back(std::move(param));
    }
    APMPBSetArrayField(proto.get(), kEventParamsSlot, std::move(params));
    return proto;
}

QByteArray APMEvent::protoBytes(NameInWireForm name) const
{
    // Fields in tag order, as the encoder writes protoEvent()'s record.
    QByteArray bytes;
    bytes.reserve(kProtoBytesCapacity);
    APMPBWireWriter out(bytes);
    for (auto it = parameters_.cbegin(); it != parameters_.cend(); ++it) {
        const qsizetype param = out.beginMessage(kEventParamsField);
        out.writeStringField(kParamNameField, it.key());
        if (it->isArray()) {
            for (const QVariant& item : it->arrayValue()) {
                const auto fields = itemFields(item, name_, it.key());
                if (!fields)
                    continue;
                const qsizetype element = out.beginMessage(kParamArrayField);
                for (const auto& [fieldName, value] : *fields) {
                    const qsizetype field = out.beginMessage(kParamArrayField);
                    out.writeStringField(kParamNameField, fieldName);
                    writeScalarValue(out, value);
                    out.endMessage(field);
                }
                out.endMessage(element);
            }
        } else {
            writeScalarValue(out, *it);
        }
        out.endMessage(param);
    }
    if (name == NameInWireForm::Include)
        out.writeStringField(kEventNameField, name_);
    if (const std::optional<qint64> millis = APMMillisecondsFromSeconds(timestamp_))
        out.writeInt64Field(kEventTimestampField, *millis);
    if (previousTimestamp_ > std::numeric_limits<double>::epsilon()) {
        if (const std::optional<qint64> millis = APMMillisecondsFromSeconds(previousTimestamp_))
            out.writeInt64Field(kEventPreviousTimestampField, *millis);
    }
    return bytes;
}

APMPEvent APMEvent::editEvent() const
{
    QVariantMap parameters;
    for (auto it = parameters_.cbegin(); it != parameters_.cend(); ++it) {
        if (!it->isArray()) {
            parameters.insert(it.key(), it->plainValue());
            continue;
        }
        QVariantList items;
        for (const QVariant& item : it->arrayValue()) {
            if (item.metaType().id() == QMetaType::QVariantMap)
                items.append(plainItem(item));
        }
        parameters.insert(it.key(), items);
    }
    return APMPEvent(APMInternalToPublicEventNames().value(name_, name_), timestamp_, parameters);
}

std::optional<APMEvent> APMEvent::eventFromEditEvent(
    const APMPEvent& editEvent, const EventParameterLimits& limits)
{
    const QString name = APMPublicToInternalEventNames().value(editEvent.name(), editEvent.name());
    const QVariant origin = editEvent.parameters().value(N::kOriginParameter);
    const QString originText = origin.metaType().id() == QMetaType::QString ? origin.toString() : N::kAppOrigin;
    return initWithOrigin(originText, false, name, editEvent.timestamp(), 0, editEvent.parameters(), limits);
}
