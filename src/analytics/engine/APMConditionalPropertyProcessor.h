#pragma once

#include <QList>

#include <functional>
#include <memory>
#include <optional>

class APMEvent;

// What the event pipeline asks of the conditional user properties for each
// event it writes: the controller writes the time-out and expiry events it
// produces itself (through the writer given) and answers the events the
// event triggered. The engine's own is APMConditionalPropertyEventProcessor;
// tests may put another in its place.
class APMConditionalPropertyProcessor {
public:
    using EventWriter = std::function<void(const APMEvent& event)>;

    virtual ~APMConditionalPropertyProcessor() = default;

    // The triggered events; nothing when processing failed (the pipeline
    // logs it and writes the event alone).
    virtual std::optional<QList<APMEvent>> processEventOnWorkerQueue(
        const APMEvent& event, const EventWriter& writeFilteredEvent) = 0;
};
