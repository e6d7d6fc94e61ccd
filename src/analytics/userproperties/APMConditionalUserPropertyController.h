#pragma once

#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMEvent.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Executor;
}

class APMDatabase;

// Conditional user properties: a user property that is set only when its
// trigger event is logged within a time-out after the property was handed
// in, and removed again a time to live after it became active. Properties
// live in the conditional_properties table; the controller sets and deletes
// the matching user_attributes row and builds the companion events the
// caller attached (triggered, timed out, expired or cleared).
//
// What the engine calls on its worker queue: processEventOnWorkerQueue()
// for every event its pipeline writes, before writing the event itself.
// The companion events it answers are the engine's to write: the ones to
// write before the event, and the triggered ones after it. Setting and
// clearing may come from any thread: they check, then post their work to
// the worker queue, and hand the companion events of that work to the
// event writer there.
//
// Time-outs and expiries are noticed only while an event is processed,
// never by a timer. Times are those of the database's clock.
class APMConditionalUserPropertyController {
public:
    using EventWriter = std::function<void(const APMEvent& event)>;
    using EnabledCheck = std::function<bool()>;

    // What processing one event yields: the timed-out and then the expired
    // properties' events (to write before the event), and the triggered
    // properties' events (to write after it).
    struct ProcessedEvent {
        QList<APMEvent> eventsBefore;
        QList<APMEvent> triggeredEvents;
    };

    static constexpr double kMaxTimeout = 15552000; // 180 days
    static constexpr double kMinTimeout = 0.001;

    // `worker` is the engine's worker queue, `writeEvent` its event writer
    // there, `isEnabled` whether measurement is on (always, without one).
    APMConditionalUserPropertyController(
        APMDatabase& database, platform::Executor& worker, EventWriter writeEvent, EnabledCheck isEnabled = {});

    // Origin, name and value by the data-type rules; trigger time-out and
    // time to live between 0.001 s and 180 days (level 2, codes 11000 and
    // 11001).
    static bool validateConditionalUserProperty(const APMConditionalUserProperty& property);

    // Any thread. A property without value removes the one of that name.
    void setConditionalUserProperty(const APMConditionalUserProperty& property, const QString& name);
    // Any thread. The clear event, when given, is written if a property of
    // that name existed.
    void clearConditionalUserPropertyWithClearEvent(const std::optional<APMEvent>& clearEvent, const QString& name);

    // How long a query waits for the worker queue.
    static constexpr double kQueryTimeout = 30;
    // The query's bound is measured on `timer` (null: the real clock), and
    // `isOnWorkerQueue` tells whether the caller is a task of the worker
    // queue (then the query runs inline instead of waiting on itself).
    void setQueryWaiting(platform::Executor* timer, std::function<bool()> isOnWorkerQueue);
    // Any thread. The properties whose name starts with the prefix and whose
    // origin matches (each only when not empty). Nothing when measurement is
    // off (level 3, code 11005), the database fails (level 2, code 11006) or
    // the worker queue does not answer within kQueryTimeout.
    std::optional<QList<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
        const QString& prefix, const QString& origin);

    // Worker queue. Each answers the companion event the engine is to write
    // after the work committed, if any.
    std::optional<APMEvent> setConditionalUserPropertyOnWorkerQueue(APMConditionalUserProperty property);
    std::optional<APMEvent> removeConditionalUserPropertyOnWorkerQueue(const APMConditionalUserProperty& property);
    // Nothing when the work was rolled back (then nothing is to be written).
    std::optional<ProcessedEvent> processEventOnWorkerQueue(const APMEvent& event);

    bool removeTimedOutCUPWithTimedOutEvents(QList<APMEvent>* timedOutEvents);
    bool removeExpiredCUPWithExpiredEvents(QList<APMEvent>* expiredEvents);
    std::optional<QList<APMEvent>> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(const QString& eventName);

private:
    bool enabled() const { return !isEnabled_ || isEnabled_(); }
    double now() const;
    std::optional<QList<APMConditionalUserProperty>> queryOnWorkerQueue(
        const QString& prefix, const QString& origin);

    APMDatabase& database_;
    platform::Executor& worker_;
    EventWriter writeEvent_;
    EnabledCheck isEnabled_;
    platform::Executor* queryTimer_ = nullptr;
    std::function<bool()> isOnWorkerQueue_;
    // Conditional properties reach the database only through this
    // controller, so once a count found none stored, the table stays empty
    // until the controller stores one: events then skip the table.
    std::atomic<bool> knownEmpty_ { false };
    // Work posted to the worker queue holds this weakly and does nothing
    // once the controller is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
