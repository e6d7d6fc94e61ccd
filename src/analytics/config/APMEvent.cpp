#include "analytics/config/APMEvent.h"

#include "analytics/config/APMConfigStore.h"
#include "analytics/config/APMEventNames.h"
#include "analytics/config/APMMonitor.h"
#include "analytics/engine/APMDataTypeValidator.h"
#include "analytics/engine/APMMeasurement.h"

namespace {

using V = APMDataTypeValidator;
namespace N = APMEventNames;

const QString kForwardedOriginSuffix = QStringLiteral("+vtm");

bool isValue(const QVariant& object)
{
    return object.metaType() == QMetaType::fromType<APMValue>();
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
    const bool originValid = origin.endsWith(kForwardedOriginSuffix)
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
        APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 16002,
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
        APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 16006,
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
                  APMMeasurement::monitor().logWithLevel(APMMonitor::kLevelWarning, code, message, *it);
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
