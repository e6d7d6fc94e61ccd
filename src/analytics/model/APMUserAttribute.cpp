#include "analytics/model/APMUserAttribute.h"

#include "analytics/model/APMEvent.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBUserAttribute.h"

namespace {

// Slots of the user-attribute message.
constexpr int32_t kSetTimestampSlot = 0;
constexpr int32_t kNameSlot = 1;
constexpr int32_t kStringValueSlot = 2;
constexpr int32_t kIntValueSlot = 3;
constexpr int32_t kDoubleValueSlot = 5;

} // namespace

std::optional<APMUserAttribute> APMUserAttribute::initWithOrigin(
    const QString& origin, const QString& name, const APMValue& value, double lastSetTimestamp)
{
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(name, nullptr))
        return std::nullopt;
    if (!APMDataTypeValidator::isValidInternalUserAttributeValue(QVariant::fromValue(value), name, nullptr))
        return std::nullopt;
    return APMUserAttribute(origin, name, value, lastSetTimestamp);
}

APMUserAttribute::APMUserAttribute(
    const QString& origin, const QString& name, const APMValue& value, double lastSetTimestamp)
    : origin_(origin)
    , name_(name)
    , value_(value)
    , lastSetTimestamp_(lastSetTimestamp)
{
}

bool APMUserAttribute::isPublic() const
{
    return !name_.isEmpty() && name_.front() != QLatin1Char('_');
}

std::unique_ptr<APMPBUserAttribute> APMUserAttribute::protoUserAttribute() const
{
    std::unique_ptr<APMPBUserAttribute> proto = APMPBUserAttribute::initWithMessageInfo();
    if (!proto)
        return nullptr;
    APMPBSetStringField(proto.get(), kNameSlot, name_);
    if (value_.isDouble())
        APMPBSetDoubleField(proto.get(), kDoubleValueSlot, value_.doubleValue());
    else if (value_.isInt64())
        APMPBSetInt64Field(proto.get(), kIntValueSlot, value_.int64Value());
    else if (value_.isString())
        APMPBSetStringField(proto.get(), kStringValueSlot, value_.stringValue());
    if (const std::optional<qint64> millis = APMMillisecondsFromSeconds(lastSetTimestamp_))
        APMPBSetInt64Field(proto.get(), kSetTimestampSlot, *millis);
    return proto;
}
