#pragma once

#include "analytics/model/APMPEvent.h"

#include <vector>

// What the programs see and change for one handled event: the event as it
// came in, the event as the programs leave it, and the new events they log.
class APMPEventContext {
public:
    // An input event named "" at time 0 without parameters.
    APMPEventContext() { setInputEvent(APMPEvent()); }
    explicit APMPEventContext(const APMPEvent& event) { setInputEvent(event); }

    const APMPEvent& inputEvent() const { return inputEvent_; }
    // Also makes the output event a copy of it and empties the logged events.
    void setInputEvent(const APMPEvent& event);
    const APMPEvent& outputEvent() const { return outputEvent_; }
    APMPEvent& outputEvent() { return outputEvent_; }
    void setOutputEvent(const APMPEvent& event) { outputEvent_ = event; }
    const std::vector<APMPEvent>& eventsToLog() const { return loggedEvents_; }
    // Drops the events logged after the first `count`.
    void truncateEventsToLog(std::size_t count);

    // Records a new event; each parameter is coerced against the input
    // event's parameter of the same name.
    void logEventWithName(const QString& name, double timestamp, const QVariantMap& parameters);

private:
    std::vector<APMPEvent> loggedEvents_;
    APMPEvent inputEvent_;
    APMPEvent outputEvent_;
};
