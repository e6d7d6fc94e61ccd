#include "analytics/rules/APMPEventContext.h"

void APMPEventContext::setInputEvent(const APMPEvent& event)
{
    inputEvent_ = event;
    outputEvent_ = event;
    loggedEvents_.clear();
}

void APMPEventContext::truncateEventsToLog(std::size_t count)
{
    if (loggedEvents_.size() > count)
        loggedEvents_.resize(count);
}

void APMPEventContext::logEventWithName(const QString& name, double timestamp, const QVariantMap& parameters)
{
    QVariantMap coerced;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        coerced.insert(it.key(), APMPCoerceParameterValue(it.key(), inputEvent_.parameterForName(it.key()), it.value()));
    loggedEvents_.push_back(APMPEvent(name, timestamp, coerced));
}
