// Conditional user properties over a real measurement database on virtual
// time: activation at once or by a trigger event, time-outs, expiry,
// removal, and the companion events the engine is handed to write.

#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/VirtualTime.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace conditional_property_test {

constexpr double kStart = 1'700'000'000.0;

APMEvent templateEvent(const QString& name)
{
    return *APMEvent::initWithOrigin("app", false, name, 0, 0, { { "reason", "test" } }, EventParameterLimits());
}

APMConditionalUserProperty property(const QString& value, const QString& trigger = QString())
{
    APMConditionalUserProperty made;
    made.setOrigin("app");
    made.setValue(APMValue::initWithString(value));
    if (!trigger.isNull())
        made.setTriggerEventName(trigger);
    made.setTriggerTimeout(5);
    made.setTimeToLive(60);
    made.setTriggeredEvent(templateEvent("cup_on"));
    made.setTimedOutEvent(templateEvent("cup_late"));
    made.setExpiredEvent(templateEvent("cup_off"));
    return made;
}

QStringList namesOf(const QList<APMEvent>& events)
{
    QStringList names;
    for (const APMEvent& event : events)
        names << event.name();
    return names;
}

class ConditionalPropertyTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fakes::VirtualTime time { kStart };
    std::unique_ptr<APMDatabase> db = [this] {
        auto made = APMDatabase::initWithDatabasePath(dir.filePath("cup.sql"), nullptr, nullptr);
        made->setClock(&time);
        return made;
    }();
    QList<APMEvent> written;
    APMConditionalUserPropertyController controller { *db, time, [this](const APMEvent& e) { written.append(e); } };

    // What a handed-in property looks like once the public call made it.
    APMConditionalUserProperty handedIn(APMConditionalUserProperty p, const QString& name)
    {
        p.setName(name);
        p.setCreationTimestamp(time.now());
        return p;
    }

    std::optional<APMUserAttribute> userProperty(const QString& name)
    {
        return db->userAttributeWithName(name, nullptr);
    }
};

} // namespace conditional_property_test

using namespace conditional_property_test;

TEST_F(ConditionalPropertyTest, WithoutTriggerItIsActiveAtOnce)
{
    const auto triggered = controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold"), "tier"));
    ASSERT_TRUE(triggered);
    EXPECT_EQ(triggered->name(), "cup_on");
    EXPECT_EQ(triggered->origin(), "app");
    EXPECT_EQ(triggered->timestamp(), kStart);
    ASSERT_TRUE(userProperty("tier"));
    EXPECT_EQ(userProperty("tier")->value().stringValue(), "gold");
    EXPECT_EQ(userProperty("tier")->lastSetTimestamp(), kStart);
    const auto stored = db->conditionalUserPropertyWithName("tier", nullptr);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->isActive());
    EXPECT_EQ(stored->triggeredTimestamp(), kStart);
}

TEST_F(ConditionalPropertyTest, ATriggerWithinTheTimeoutActivatesItAfterTheEvent)
{
    EXPECT_FALSE(controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold", "buy"), "tier")));
    EXPECT_FALSE(userProperty("tier"));
    time.advance(3);
    const auto other = controller.processEventOnWorkerQueue(templateEvent("browse"));
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->eventsBefore.isEmpty());
    EXPECT_TRUE(other->triggeredEvents.isEmpty());
    const auto processed = controller.processEventOnWorkerQueue(templateEvent("buy"));
    ASSERT_TRUE(processed);
    EXPECT_TRUE(processed->eventsBefore.isEmpty());
    EXPECT_EQ(namesOf(processed->triggeredEvents), QStringList { "cup_on" });
    EXPECT_EQ(processed->triggeredEvents.first().timestamp(), kStart + 3);
    ASSERT_TRUE(userProperty("tier"));
    EXPECT_EQ(userProperty("tier")->lastSetTimestamp(), kStart + 3);
    EXPECT_TRUE(db->conditionalUserPropertyWithName("tier", nullptr)->isActive());
}

TEST_F(ConditionalPropertyTest, ATriggerAfterTheTimeoutTimesItOut)
{
    controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold", "buy"), "tier"));
    time.advance(10);
    const auto processed = controller.processEventOnWorkerQueue(templateEvent("buy"));
    ASSERT_TRUE(processed);
    EXPECT_EQ(namesOf(processed->eventsBefore), QStringList { "cup_late" });
    EXPECT_EQ(processed->eventsBefore.first().timestamp(), kStart + 10);
    EXPECT_TRUE(processed->triggeredEvents.isEmpty());
    EXPECT_FALSE(userProperty("tier"));
    EXPECT_FALSE(db->conditionalUserPropertyWithName("tier", nullptr));
}

TEST_F(ConditionalPropertyTest, AnActivePropertyExpiresAtTheFirstEventAfterItsTimeToLive)
{
    controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold"), "tier"));
    time.advance(60);
    const auto atLimit = controller.processEventOnWorkerQueue(templateEvent("browse"));
    ASSERT_TRUE(atLimit);
    EXPECT_TRUE(atLimit->eventsBefore.isEmpty());
    EXPECT_TRUE(userProperty("tier"));
    time.advance(1);
    const auto processed = controller.processEventOnWorkerQueue(templateEvent("browse"));
    ASSERT_TRUE(processed);
    EXPECT_EQ(namesOf(processed->eventsBefore), QStringList { "cup_off" });
    EXPECT_FALSE(userProperty("tier"));
    EXPECT_FALSE(db->conditionalUserPropertyWithName("tier", nullptr));
}

TEST_F(ConditionalPropertyTest, SettingAnActivePropertyAgainKeepsItsFirstActivation)
{
    controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold"), "tier"));
    time.advance(30);
    auto again = handedIn(property("platinum", "buy"), "tier");
    again.setTimeToLive(40);
    EXPECT_FALSE(controller.setConditionalUserPropertyOnWorkerQueue(again)); // no new activation
    const auto stored = db->conditionalUserPropertyWithName("tier", nullptr);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->isActive());
    EXPECT_EQ(stored->triggeredTimestamp(), kStart);
    EXPECT_EQ(stored->creationTimestamp(), kStart);
    EXPECT_EQ(stored->value()->stringValue(), "platinum");
    EXPECT_EQ(stored->timeToLive(), 40);
    // The time to live counts from the first activation.
    time.advance(11);
    const auto processed = controller.processEventOnWorkerQueue(templateEvent("browse"));
    EXPECT_EQ(namesOf(processed->eventsBefore), QStringList { "cup_off" });
}

TEST_F(ConditionalPropertyTest, PublicCallsRunOnTheWorkerQueueAndWriteTheirEvents)
{
    controller.setConditionalUserProperty(property("gold"), "tier");
    EXPECT_FALSE(userProperty("tier")); // posted, not run yet
    time.runPending();
    EXPECT_TRUE(userProperty("tier"));
    EXPECT_EQ(namesOf(written), QStringList { "cup_on" });

    // Clearing a property that does not exist writes nothing.
    written.clear();
    controller.clearConditionalUserPropertyWithClearEvent(templateEvent("cup_clear"), "missing");
    time.runPending();
    EXPECT_TRUE(written.isEmpty());

    // Clearing an active one removes its user property and writes the event.
    controller.clearConditionalUserPropertyWithClearEvent(templateEvent("cup_clear"), "tier");
    time.runPending();
    EXPECT_EQ(namesOf(written), QStringList { "cup_clear" });
    EXPECT_FALSE(userProperty("tier"));

    // Clearing a waiting one writes the event but touches no user property.
    written.clear();
    const auto own = APMUserAttribute::initWithOrigin("app", "tier", *APMValue::initWithString("own"), kStart);
    ASSERT_TRUE(db->updateUserAttribute(*own, nullptr));
    controller.setConditionalUserProperty(property("gold", "buy"), "tier");
    controller.clearConditionalUserPropertyWithClearEvent(templateEvent("cup_clear"), "tier");
    time.runPending();
    EXPECT_EQ(namesOf(written), QStringList { "cup_clear" });
    ASSERT_TRUE(userProperty("tier"));
    EXPECT_EQ(userProperty("tier")->value().stringValue(), "own");

    // A property without value removes the one of its name.
    controller.setConditionalUserProperty(property("gold"), "tier");
    auto removal = property("x");
    removal.setValue(std::nullopt);
    controller.setConditionalUserProperty(removal, "tier");
    time.runPending();
    EXPECT_FALSE(db->conditionalUserPropertyWithName("tier", nullptr));
}

TEST_F(ConditionalPropertyTest, ChecksOfTimesAndValues)
{
    struct Case {
        double timeout, timeToLive;
        QString value;
        bool accepted;
    };
    const Case cases[] = {
        { 5, 60, "gold", true },
        { 0.001, 15552000, "gold", true },
        { 0.0005, 60, "gold", false },
        { 15552001, 60, "gold", false },
        { 5, 0, "gold", false },
        { 5, std::nan(""), "gold", false },
        { 5, 60, QString(36, 'a'), true },
        { 5, 60, QString(37, 'a'), false },
    };
    for (const Case& c : cases) {
        auto p = property(c.value);
        p.setName("tier");
        p.setTriggerTimeout(c.timeout);
        p.setTimeToLive(c.timeToLive);
        EXPECT_EQ(APMConditionalUserPropertyController::validateConditionalUserProperty(p), c.accepted)
            << c.timeout << " " << c.timeToLive << " " << c.value.size();
    }
}

TEST_F(ConditionalPropertyTest, EventsBeforeAnyPropertyDoNotHideALaterOne)
{
    // Nothing stored: the events find nothing to do.
    for (const char* name : { "browse", "buy", "browse" }) {
        const auto processed = controller.processEventOnWorkerQueue(templateEvent(name));
        ASSERT_TRUE(processed) << name;
        EXPECT_TRUE(processed->eventsBefore.isEmpty());
        EXPECT_TRUE(processed->triggeredEvents.isEmpty());
    }

    // A property set after those events is triggered, times out and expires
    // as if the table had been looked at every time.
    EXPECT_FALSE(controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("gold", "buy"), "tier")));
    EXPECT_FALSE(controller.setConditionalUserPropertyOnWorkerQueue(handedIn(property("late", "never"), "slow")));
    time.advance(3);
    const auto processed = controller.processEventOnWorkerQueue(templateEvent("buy"));
    ASSERT_TRUE(processed);
    EXPECT_EQ(namesOf(processed->triggeredEvents), QStringList { "cup_on" });
    time.advance(10);
    const auto later = controller.processEventOnWorkerQueue(templateEvent("browse"));
    ASSERT_TRUE(later);
    EXPECT_EQ(namesOf(later->eventsBefore), QStringList { "cup_late" });
    time.advance(60);
    const auto last = controller.processEventOnWorkerQueue(templateEvent("browse"));
    ASSERT_TRUE(last);
    EXPECT_EQ(namesOf(last->eventsBefore), QStringList { "cup_off" });
    EXPECT_FALSE(db->conditionalUserPropertyWithName("tier", nullptr));
}
