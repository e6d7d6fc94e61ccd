#include "analytics/userproperties/APMConditionalUserPropertyController.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/Executor.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace conditional_properties {

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

// The companion event of a template: the property's origin, not public, the
// template's name and parameters, the given time, no previous time.
std::optional<APMEvent> companionEvent(const APMEvent& templateEvent, const QString& origin, double time)
{
    return APMEvent::initWithOrigin(origin, false, templateEvent.name(), time, 0,
        APMVariantMapFromParameters(templateEvent.parameters()), templateEvent.limits());
}

bool writeUserAttribute(APMDatabase& database, const APMConditionalUserProperty& property, double time,
    APMError* error)
{
    if (!property.value())
        return false;
    const auto attribute = APMUserAttribute::initWithOrigin(property.origin(), property.name(), *property.value(), time);
    return attribute && database.updateUserAttribute(*attribute, error);
}

} // namespace conditional_properties


APMConditionalUserPropertyController::APMConditionalUserPropertyController(
    APMDatabase& database, platform::Executor& worker, EventWriter writeEvent, EnabledCheck isEnabled)
    : database_(database)
    , worker_(worker)
    , writeEvent_(std::move(writeEvent))
    , isEnabled_(std::move(isEnabled))
{
}

double APMConditionalUserPropertyController::now() const
{
    return database_.clock().now();
}

bool APMConditionalUserPropertyController::validateConditionalUserProperty(const APMConditionalUserProperty& property)
{
    if (!APMDataTypeValidator::isValidConditionalUserPropertyOrigin(property.origin(), nullptr)
        || !APMDataTypeValidator::isValidConditionalUserPropertyName(property.name(), nullptr))
        return false;
    if (property.value()
        && !APMDataTypeValidator::isValidConditionalUserPropertyValue(QVariant::fromValue(*property.value()), nullptr))
        return false;
    // Written so that NaN fails too.
    if (!(property.triggerTimeout() >= kMinTimeout && property.triggerTimeout() <= kMaxTimeout)) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 11000,
            QStringLiteral("Invalid conditional user property trigger timeout"), property.triggerTimeout());
        return false;
    }
    if (!(property.timeToLive() >= kMinTimeout && property.timeToLive() <= kMaxTimeout)) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 11001,
            QStringLiteral("Invalid conditional user property time to live"), property.timeToLive());
        return false;
    }
    return true;
}

void APMConditionalUserPropertyController::setConditionalUserProperty(
    const APMConditionalUserProperty& property, const QString& name)
{
    APMConditionalUserProperty copy = property;
    copy.setName(name);
    if (!validateConditionalUserProperty(copy))
        return;
    copy.setCreationTimestamp(now());
    std::weak_ptr<bool> alive = alive_;
    worker_.async([this, alive, copy] {
        if (alive.expired())
            return;
        const auto event = copy.value() ? setConditionalUserPropertyOnWorkerQueue(copy)
                                        : removeConditionalUserPropertyOnWorkerQueue(copy);
        if (event && writeEvent_)
            writeEvent_(*event);
    });
}

namespace conditional_properties {

// A query's answer, handed from the worker queue (or the timer) to the
// waiting caller; whichever comes first finishes it.
struct QueryAnswer {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;
    std::optional<QList<APMConditionalUserProperty>> properties;

    void finish(std::optional<QList<APMConditionalUserProperty>> answer)
    {
        {
            std::lock_guard lock(mutex);
            if (finished)
                return;
            finished = true;
            properties = std::move(answer);
        }
        finishedChanged.notify_all();
    }
};

} // namespace conditional_properties

void APMConditionalUserPropertyController::setQueryWaiting(
    platform::Executor* timer, std::function<bool()> isOnWorkerQueue)
{
    queryTimer_ = timer;
    isOnWorkerQueue_ = std::move(isOnWorkerQueue);
}

std::optional<QList<APMConditionalUserProperty>> APMConditionalUserPropertyController::queryOnWorkerQueue(
    const QString& prefix, const QString& origin)
{
    if (!enabled()) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelWarning, 11005,
            QStringLiteral("Cannot query for conditional user properties. Analytics is disabled"));
        return std::nullopt;
    }
    APMError error;
    auto properties = database_.conditionalUserPropertiesWithPrefix(prefix, origin, &error);
    if (!properties && error.isSet()) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 11006,
            QStringLiteral("Cannot query for conditional user properties. Name prefix, origin, error"), prefix,
            origin, error.description());
    }
    return properties;
}

std::optional<QList<APMConditionalUserProperty>> APMConditionalUserPropertyController::
    conditionalUserPropertiesWithNamePrefix(const QString& prefix, const QString& origin)
{
    // A task of the worker queue waiting for the queue would only ever time out.
    if (isOnWorkerQueue_ && isOnWorkerQueue_())
        return queryOnWorkerQueue(prefix, origin);

    auto answer = std::make_shared<conditional_properties::QueryAnswer>();
    std::weak_ptr<bool> alive = alive_;
    worker_.async([this, alive, answer, prefix, origin] {
        if (alive.expired()) {
            answer->finish(std::nullopt);
            return;
        }
        answer->finish(queryOnWorkerQueue(prefix, origin));
    });
    platform::TaskId timeout = 0;
    if (queryTimer_)
        timeout = queryTimer_->asyncAfter(kQueryTimeout, [answer] { answer->finish(std::nullopt); });

    std::unique_lock lock(answer->mutex);
    if (queryTimer_) {
        answer->finishedChanged.wait(lock, [&] { return answer->finished; });
    } else {
        const bool answered = answer->finishedChanged.wait_for(lock,
            std::chrono::duration<double>(kQueryTimeout), [&] { return answer->finished; });
        if (!answered)
            answer->finished = true; // a late answer is dropped
    }
    auto properties = answer->properties;
    lock.unlock();
    if (queryTimer_)
        queryTimer_->cancel(timeout);
    return properties;
}

void APMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::optional<APMEvent>& clearEvent, const QString& name)
{
    if (!APMDataTypeValidator::isValidConditionalUserPropertyName(name, nullptr))
        return;
    APMConditionalUserProperty property;
    property.setName(name);
    property.setExpiredEvent(clearEvent);
    std::weak_ptr<bool> alive = alive_;
    worker_.async([this, alive, property] {
        if (alive.expired())
            return;
        const auto event = removeConditionalUserPropertyOnWorkerQueue(property);
        if (event && writeEvent_)
            writeEvent_(*event);
    });
}

std::optional<APMEvent> APMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    APMConditionalUserProperty property)
{
    if (!enabled()) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelWarning, 11007,
            QStringLiteral("Cannot set conditional user property. Analytics is disabled"));
        return std::nullopt;
    }
    std::optional<APMEvent> triggered;
    const QString nameForLog = APMUserPropertyNameForLog(property.name());
    const bool committed = database_.performTransaction([&] {
        APMError error;
        const auto stored = database_.conditionalUserPropertyWithName(property.name(), &error);
        if (!stored && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11009,
                QStringLiteral("Cannot query conditional user property. Name, origin, error"), nameForLog,
                property.origin(), error.description());
            return false;
        }
        if (stored && stored->origin() != property.origin()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 11010,
                QStringLiteral("Updating a conditional user property with different origin. Name, origin, saved origin"),
                nameForLog, property.origin(), stored->origin());
        }
        const bool wasActive = stored && stored->isActive();
        bool activatedNow = false;
        if (wasActive) {
            // Still in force: the first activation's facts stay.
            property.setOrigin(stored->origin());
            property.setCreationTimestamp(stored->creationTimestamp());
            property.setTriggerEventName(stored->triggerEventName());
            property.setTriggeredEvent(stored->triggeredEvent());
            property.setTriggerTimeout(stored->triggerTimeout());
        } else if (property.triggerEventName().value_or(QString()).isEmpty()) {
            property.setActive(true);
            property.setTriggeredTimestamp(property.creationTimestamp());
            activatedNow = true;
        }
        if (property.isActive()) {
            error = APMError();
            if (conditional_properties::writeUserAttribute(database_, property, property.triggeredTimestamp(), &error)) {
                conditional_properties::monitor().logWithLevel(APMMonitor::kLevelDebug, 11012,
                    QStringLiteral("User property updated. Name, origin"), nameForLog, property.origin());
            } else {
                conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11011,
                    QStringLiteral("Cannot update user property from conditional user property. Name, origin, error"),
                    nameForLog, property.origin(), error.description());
            }
            if (activatedNow && property.triggeredEvent())
                triggered = conditional_properties::companionEvent(
                    *property.triggeredEvent(), property.origin(), property.triggeredTimestamp());
        }
        if (wasActive) {
            // The time to live still counts from the first activation.
            property.setActive(true);
            property.setTriggeredTimestamp(stored->triggeredTimestamp());
        }
        error = APMError();
        knownEmpty_ = false;
        if (database_.updateConditionalUserProperty(property, &error)) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelDebug, 11013,
                QStringLiteral("Conditional user property added. Name, origin"), nameForLog, property.origin());
        } else {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11014,
                QStringLiteral("Cannot insert user property from conditional user property. Name, origin, error"),
                nameForLog, property.origin(), error.description());
        }
        return true;
    });
    return committed ? triggered : std::nullopt;
}

std::optional<APMEvent> APMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const APMConditionalUserProperty& property)
{
    if (!enabled()) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelWarning, 11015,
            QStringLiteral("Cannot remove conditional user property. Analytics is disabled"));
        return std::nullopt;
    }
    std::optional<APMEvent> expired;
    const QString nameForLog = APMUserPropertyNameForLog(property.name());
    const bool committed = database_.performTransaction([&] {
        APMError error;
        const auto stored = database_.conditionalUserPropertyWithName(property.name(), &error);
        if (!stored) {
            if (error.isSet()) {
                conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11017,
                    QStringLiteral("Cannot query conditional user property to remove. Name, origin, error"),
                    nameForLog, property.origin(), error.description());
                return false;
            }
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 11018,
                QStringLiteral("Cannot remove nonexistent conditional user property. Name, origin"), nameForLog,
                property.origin());
            return true;
        }
        if (!database_.deleteConditionalUserPropertyWithName(property.name(), &error) && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11019,
                QStringLiteral("Cannot delete conditional user property. Name, origin, error"), nameForLog,
                stored->origin(), error.description());
            return false;
        }
        if (stored->isActive() && !database_.deleteUserAttributeWithName(property.name(), &error)
            && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 11020,
                QStringLiteral(
                    "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error"),
                nameForLog, stored->origin(), error.description());
            return false;
        }
        if (property.expiredEvent())
            expired = conditional_properties::companionEvent(*property.expiredEvent(), stored->origin(), now());
        return true;
    });
    return committed ? expired : std::nullopt;
}

std::optional<APMConditionalUserPropertyController::ProcessedEvent>
APMConditionalUserPropertyController::processEventOnWorkerQueue(const APMEvent& event)
{
    ProcessedEvent processed;
    // With no conditional property stored nothing can time out, expire or
    // be triggered, and every logged event would open a write transaction
    // for nothing. A failed count takes the full road.
    if (knownEmpty_)
        return processed;
    if (APMSqliteStore* store = database_.sqliteStore()) {
        APMError countError;
        const std::optional<qint64> stored
            = store->rowCountForTableWithName(APMDatabase::kConditionalPropertiesTable, &countError);
        if (stored && *stored == 0) {
            knownEmpty_ = true;
            return processed;
        }
    }
    QList<APMEvent> timedOut, expired;
    std::optional<QList<APMEvent>> triggered;
    const bool committed = database_.performTransaction([&] {
        if (!removeTimedOutCUPWithTimedOutEvents(&timedOut) || !removeExpiredCUPWithExpiredEvents(&expired))
            return false;
        triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event.name());
        return triggered.has_value();
    });
    if (!committed)
        return std::nullopt;
    processed.eventsBefore = timedOut + expired;
    processed.triggeredEvents = *triggered;
    return processed;
}

bool APMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(QList<APMEvent>* timedOutEvents)
{
    APMError error;
    const auto properties = database_.timedOutConditionalUserPropertiesWithError(&error);
    if (!properties) {
        if (!error.isSet())
            return true;
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10001,
            QStringLiteral("Cannot fetch timed out conditional user properties. Error"), error.description());
        return false;
    }
    QList<APMEvent> built;
    for (const APMConditionalUserProperty& property : *properties) {
        const QString nameForLog = APMUserPropertyNameForLog(property.name());
        conditional_properties::monitor().logWithLevel(
            APMMonitor::kLevelDebug, 10002, QStringLiteral("Conditional user property has timed out. Name"), nameForLog);
        if (!database_.deleteConditionalUserPropertyWithName(property.name(), &error) && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10003,
                QStringLiteral("Cannot delete timed out condition user property. Name, error"), nameForLog,
                error.description());
            return false;
        }
        if (property.timedOutEvent()) {
            if (auto event = conditional_properties::companionEvent(*property.timedOutEvent(), property.origin(), now()))
                built.append(std::move(*event));
        }
    }
    if (timedOutEvents)
        *timedOutEvents = built;
    return true;
}

bool APMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(QList<APMEvent>* expiredEvents)
{
    APMError error;
    const auto properties = database_.expiredConditionalUserPropertiesWithError(&error);
    if (!properties) {
        if (!error.isSet())
            return true;
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10004,
            QStringLiteral("Cannot fetch expired conditional user properties. Error"), error.description());
        return false;
    }
    QList<APMEvent> built;
    for (const APMConditionalUserProperty& property : *properties) {
        const QString nameForLog = APMUserPropertyNameForLog(property.name());
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelDebug, 10005,
            QStringLiteral("Conditional user property has expired. Name, expired event"), nameForLog,
            property.expiredEvent() ? property.expiredEvent()->name() : QString());
        if (!database_.deleteUserAttributeWithName(property.name(), &error) && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10006,
                QStringLiteral(
                    "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error"),
                nameForLog, property.origin(), error.description());
            return false;
        }
        if (!database_.deleteConditionalUserPropertyWithName(property.name(), &error) && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10007,
                QStringLiteral("Cannot delete expired condition user property. Name, error"), nameForLog,
                error.description());
            return false;
        }
        if (property.expiredEvent()) {
            if (auto event = conditional_properties::companionEvent(*property.expiredEvent(), property.origin(), now()))
                built.append(std::move(*event));
        }
    }
    if (expiredEvents)
        *expiredEvents = built;
    return true;
}

std::optional<QList<APMEvent>>
APMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const QString& eventName)
{
    APMError error;
    auto properties = database_.triggeredConditionalUserPropertiesWithEventName(eventName, &error);
    if (!properties && error.isSet()) {
        conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10008,
            QStringLiteral("Cannot fetch triggering conditional user properties. Event name, error"),
            APMEventNameForLog(eventName), error.description());
        return std::nullopt;
    }
    if (!properties || properties->isEmpty()) {
        const QMap<QString, QString>& converted = APMPublicEventsConvertedToInternal();
        if (const auto it = converted.constFind(eventName); it != converted.constEnd()) {
            APMError ignored;
            properties = database_.triggeredConditionalUserPropertiesWithEventName(*it, &ignored);
        }
    }
    QList<APMEvent> triggered;
    for (APMConditionalUserProperty property : properties.value_or(QList<APMConditionalUserProperty>())) {
        const double time = now();
        const QString nameForLog = APMUserPropertyNameForLog(property.name());
        error = APMError();
        if (conditional_properties::writeUserAttribute(database_, property, time, &error)) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelDebug, 10010,
                QStringLiteral("User property updated. Name, origin, value"), nameForLog, property.origin(),
                property.value() ? property.value()->description() : QString());
        } else {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10009,
                QStringLiteral("Cannot update user property from conditional user property. Name, origin, error"),
                nameForLog, property.origin(), error.description());
        }
        if (property.triggeredEvent()) {
            if (auto event = conditional_properties::companionEvent(*property.triggeredEvent(), property.origin(), time))
                triggered.append(std::move(*event));
        }
        property.setActive(true);
        property.setTriggeredTimestamp(time);
        error = APMError();
        if (!database_.updateConditionalUserProperty(property, &error) && error.isSet()) {
            conditional_properties::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 10011,
                QStringLiteral("Cannot update conditional user property. Name, origin, error"), nameForLog,
                property.origin(), error.description());
            return std::nullopt;
        }
    }
    return triggered;
}
