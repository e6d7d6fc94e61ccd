#pragma once

#include <memory>

class APMEvent;

// What the event pipeline asks of lifetime value inside the transaction that
// stores an event: record the value of a purchase. False rolls the event
// back. The engine starts with the recorder that tracks no currency.
class APMLifetimeValueRecorder {
public:
    virtual ~APMLifetimeValueRecorder() = default;

    virtual bool updateLifetimeValueWithEvent(const APMEvent& event) = 0;

    static std::shared_ptr<APMLifetimeValueRecorder> recordingNothing();
};
