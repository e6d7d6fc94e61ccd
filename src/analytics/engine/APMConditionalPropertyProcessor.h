#pragma once

#include <QList>

#include <functional>
#include <memory>
#include <optional>

class APMEvent;

// What the event pipeline asks of the conditional user properties for each
// event it writes: the controller writes the time-out and expiry events it
// produces itself (through the writer given) and answers the events the
// event triggered. The audience layer supplies the real controller; the
// engine starts with the one for no stored conditional property.
class APMConditionalPropertyProcessor {
public:
    using EventWriter = std::function<void(const APMEvent& event)>;

    virtual ~APMConditionalPropertyProcessor() = default;

    // The triggered events; nothing when processing failed (the pipeline
    // logs it and writes the event alone).
    virtual std::optional<QList<APMEvent>> processEventOnWorkerQueue(
        const APMEvent& event, const EventWriter& writeFilteredEvent) = 0;

    // No conditional user property: nothing times out, expires or triggers.
    static std::shared_ptr<APMConditionalPropertyProcessor> withoutProperties();
};
