#pragma once

#include "analytics/model/APMEvent.h"
#include "analytics/base/APMValue.h"

#include <QString>

#include <optional>

// A user property that comes into force when its trigger event is logged
// within the trigger time-out after its creation, and lapses a time-to-live
// after it became active; with the templates of the events logged when it
// is triggered, times out or expires. A plain copyable record.
class APMConditionalUserProperty {
public:
    APMConditionalUserProperty() = default;

    const QString& name() const { return name_; }
    void setName(const QString& name) { name_ = name; }
    const QString& origin() const { return origin_; }
    void setOrigin(const QString& origin) { origin_ = origin; }
    // Nothing in a request means the property is to be removed.
    const std::optional<APMValue>& value() const { return value_; }
    void setValue(const std::optional<APMValue>& value) { value_ = value; }
    // Nothing or empty: the property is active at once.
    const std::optional<QString>& triggerEventName() const { return triggerEventName_; }
    void setTriggerEventName(const std::optional<QString>& name) { triggerEventName_ = name; }
    double triggerTimeout() const { return triggerTimeout_; }
    void setTriggerTimeout(double seconds) { triggerTimeout_ = seconds; }
    double timeToLive() const { return timeToLive_; }
    void setTimeToLive(double seconds) { timeToLive_ = seconds; }
    const std::optional<APMEvent>& triggeredEvent() const { return triggeredEvent_; }
    void setTriggeredEvent(const std::optional<APMEvent>& event) { triggeredEvent_ = event; }
    const std::optional<APMEvent>& timedOutEvent() const { return timedOutEvent_; }
    void setTimedOutEvent(const std::optional<APMEvent>& event) { timedOutEvent_ = event; }
    const std::optional<APMEvent>& expiredEvent() const { return expiredEvent_; }
    void setExpiredEvent(const std::optional<APMEvent>& event) { expiredEvent_ = event; }
    double creationTimestamp() const { return creationTimestamp_; }
    void setCreationTimestamp(double timestamp) { creationTimestamp_ = timestamp; }
    bool isActive() const { return active_; }
    void setActive(bool active) { active_ = active; }
    double triggeredTimestamp() const { return triggeredTimestamp_; }
    void setTriggeredTimestamp(double timestamp) { triggeredTimestamp_ = timestamp; }

private:
    QString name_;
    QString origin_;
    std::optional<APMValue> value_;
    std::optional<QString> triggerEventName_;
    double triggerTimeout_ = 0;
    double timeToLive_ = 0;
    std::optional<APMEvent> triggeredEvent_;
    std::optional<APMEvent> timedOutEvent_;
    std::optional<APMEvent> expiredEvent_;
    double creationTimestamp_ = 0;
    bool active_ = false;
    double triggeredTimestamp_ = 0;
};
