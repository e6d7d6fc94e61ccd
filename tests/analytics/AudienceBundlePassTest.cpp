// The engine's audience evaluator holds each audience's result row for a
// whole bundle and writes it once at the end. These tests run the same
// bundles through it and through the evaluation that reads and writes the
// rows at every event (one event at a time, with one timestamps cache per
// bundle), each over its own database, and require the same stored rows and
// the same results handed to every bundle; and they stop bundles midway, as
// a failure or a stopped program does, and require nothing of them to stay.

#include "AudienceTestSupport.h"
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/base/APMValue.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QHash>
#include <QMap>
#include <QPair>

#include <algorithm>
#include <gtest/gtest.h>

using namespace audience_test;

namespace audience_bundle_pass_test {

struct LoggedEvent {
    const char* name;
    qint64 value;
    double time;
};

struct Property {
    const char* name;
    const char* value;
};

struct Bundle {
    bool sessionStart = false;
    std::vector<LoggedEvent> events;
    // The bundle's user properties, set before its first event.
    std::vector<Property> properties;
    // Sampling left no event: the bundle is dropped after its events were
    // evaluated, its properties are not evaluated and no results handed out.
    bool dropped = false;
};

struct Scenario {
    const char* name;
    std::vector<Bundle> bundles;
};

APMAudienceLimits wideLimits()
{
    APMAudienceLimits limits;
    limits.maxFiltersPerAudience = 100; // filter 70 lives in the second word
    return limits;
}

// Every kind of filter, several audiences on the same names.
std::vector<std::unique_ptr<APMPBAudience>> definitions()
{
    const auto gold = valueFilter(stringFilter(kMatchExact, "gold").get(), nullptr);
    const auto levelAboveTwo = numberFilter(kComparisonGreaterThan, "2");
    const auto countAboveTwo = numberFilter(kComparisonGreaterThan, "2");
    std::vector<std::unique_ptr<APMPBAudience>> list;

    std::vector<std::unique_ptr<APMPBEventFilter>> first;
    first.push_back(eventFilter(
        0, "buy", listOf(numberOf("value", kComparisonGreaterThan, "10")), nullptr, { .dynamic = true }));
    first.push_back(eventFilter(1, "step", {}, nullptr, { .sequence = true }));
    first.push_back(eventFilter(70, "open", {}, nullptr, { .sessionScoped = true }));
    list.push_back(audience(1, std::move(first), listOf(propertyFilter(2, "tier", gold.get()))));

    std::vector<std::unique_ptr<APMPBPropertyFilter>> secondProperties;
    secondProperties.push_back(propertyFilter(1, "tier", gold.get(), { .dynamic = true }));
    secondProperties.push_back(
        propertyFilter(2, "level", valueFilter(nullptr, levelAboveTwo.get()).get(), { .sequence = true }));
    list.push_back(audience(2, listOf(eventFilter(0, "buy")), std::move(secondProperties)));

    std::vector<std::unique_ptr<APMPBEventFilter>> third;
    third.push_back(eventFilter(0, "open", {}, nullptr, { .dynamic = true, .sessionScoped = true }));
    third.push_back(eventFilter(1, "step", {}, countAboveTwo.get()));
    list.push_back(audience(3, std::move(third),
        listOf(propertyFilter(4, "tier", gold.get(), { .dynamic = true, .sessionScoped = true }))));

    std::vector<std::unique_ptr<APMPBEventFilter>> fourth;
    fourth.push_back(eventFilter(
        3, "buy", listOf(numberOf("value", kComparisonLessThan, "5")), nullptr, { .sequence = true }));
    fourth.push_back(eventFilter(5, "open", listOf(stringOf("missing", kMatchExact, "x"))));
    list.push_back(audience(4, std::move(fourth)));
    return list;
}

const std::vector<Scenario>& scenarios()
{
    static const std::vector<Scenario> table {
        { "one bundle touching every audience many times",
            { { true,
                { { "buy", 50, 100.2 }, { "step", 0, 100.4 }, { "buy", 3, 100.6 }, { "step", 0, 100.9 },
                    { "step", 0, 101.5 }, { "open", 0, 102 }, { "buy", 1, 103 }, { "buy", 80, 104.5 },
                    { "step", 0, 105 }, { "noise", 0, 105.5 } },
                { { "tier", "gold" }, { "level", "3" } } } } },
        { "a session start clears what later bundles evaluate again",
            { { true, { { "open", 0, 100 }, { "buy", 50, 101 }, { "step", 0, 102 } },
                  { { "tier", "gold" } } },
                { false, { { "open", 0, 200 }, { "buy", 2, 201 } }, { { "tier", "gold" } } },
                { true, { { "buy", 4, 300 }, { "step", 0, 301 }, { "open", 0, 302 } },
                    { { "tier", "silver" } } },
                { false, { { "open", 0, 400 } }, { { "tier", "gold" } } } } },
        { "bundles without new evaluations cut the first sequence to its last time",
            { { false, { { "step", 0, 100 }, { "step", 0, 101 }, { "step", 0, 102 } }, {} },
                { false, { { "noise", 0, 200 } }, {} }, { false, { { "noise", 0, 300 } }, {} },
                { false, { { "step", 0, 400 } }, {} } } },
        { "a bundle dropped by sampling keeps its evaluations for the next",
            { { false, { { "buy", 50, 100 }, { "step", 0, 101 }, { "open", 0, 102 } }, { { "tier", "gold" } },
                  true },
                { false, { { "buy", 1, 200 } }, { { "tier", "silver" } } } } },
        { "times out of order within and across bundles",
            { { false, { { "buy", 50, 300 }, { "buy", 60, 200 }, { "step", 0, 250 }, { "step", 0, 150 } },
                  { { "level", "5" } } },
                { false, { { "buy", 70, 100 }, { "open", 0, 90 }, { "step", 0, 80 } },
                    { { "level", "1" } } } } },
        { "user properties alone",
            { { false, { { "noise", 0, 100 } }, { { "tier", "gold" }, { "level", "4" } } },
                { true, { { "noise", 0, 200 } }, { { "tier", "silver" }, { "level", "1" } } },
                { false, { { "noise", 0, 300 } }, { { "tier", "gold" } } } } },
    };
    return table;
}

APMEvent eventOf(const LoggedEvent& logged)
{
    return *APMEvent::initWithOrigin(
        "app", false, logged.name, logged.time, 0, { { "value", logged.value } }, EventParameterLimits());
}

std::unique_ptr<APMPBUserAttribute> propertyOf(const Property& property, double setTime)
{
    const QString value = property.value;
    bool isNumber = false;
    const qint64 number = value.toLongLong(&isNumber);
    const APMValue stored = isNumber ? APMValue::initWithInt64(number) : *APMValue::initWithString(value);
    return APMUserAttribute::initWithOrigin("app", property.name, stored, setTime)->protoUserAttribute();
}

double startOf(const Bundle& bundle)
{
    double start = bundle.events.front().time;
    for (const LoggedEvent& event : bundle.events)
        start = std::min(start, event.time);
    return start;
}

// The aggregates the bundling pass hands with each event: the counts of its
// name so far, the bundle's own counted from zero.
class Aggregates {
public:
    void beginBundle() { inBundle_.clear(); }
    APMEventAggregates next(const APMEvent& event)
    {
        const qint64 lifetime = ++lifetime_[event.name()];
        const qint64 bundle = ++inBundle_[event.name()];
        return *APMEventAggregates::initWithName(event.name(), lifetime, bundle, lifetime, event.timestamp());
    }

private:
    QHash<QString, qint64> lifetime_, inBundle_;
};

// What a bundle handed out, as bytes ordered by audience ID; nothing when
// it handed out nothing (a failure, or a dropped bundle).
using Handed = std::optional<QMap<qint32, QByteArray>>;

Handed handedOut(const std::optional<APMAudienceEvaluator::Results>& results)
{
    if (!results)
        return std::nullopt;
    QMap<qint32, QByteArray> leaves;
    for (const auto& leaf : *results)
        leaves.insert(APMPBGetInt32Field(leaf.get(), 0), leaf->protoBuffer().value_or(QByteArray()));
    return leaves;
}

// The stored rows: current and previous result bytes by audience ID.
QMap<qint32, QPair<QByteArray, QByteArray>> storedRows(APMDatabase& database)
{
    QMap<qint32, QPair<QByteArray, QByteArray>> rows;
    const auto all = database.allFilterResults(nullptr);
    EXPECT_TRUE(all.has_value());
    if (all) {
        for (const APMFilterResult& row : *all)
            rows.insert(row.audienceID(), { row.currentResults(), row.previousResults() });
    }
    return rows;
}

// Evaluation one event at a time: every call reads and writes the rows it
// touches, with one timestamps cache for the bundle.
class OneByOne {
public:
    OneByOne() { EXPECT_TRUE(audience_.updateAudiences(definitions())); }

    APMDatabase& database() { return database_; }

    Handed run(const Bundle& bundle)
    {
        Handed handed;
        const bool committed = database_.performTransaction([&] {
            if (bundle.sessionStart) {
                if (!audience_.clearEvaluationResultsForSessionScopedFilters())
                    return false;
                for (const Property& property : bundle.properties) {
                    if (!audience_.evaluateFiltersForNanoUserProperty(
                            *propertyOf(property, startOf(bundle)), nullptr, std::nullopt))
                        return false;
                }
            }
            APMAudienceTimestampsCache cache;
            aggregates_.beginBundle();
            for (const LoggedEvent& logged : bundle.events) {
                const APMEvent event = eventOf(logged);
                const APMEventAggregates counts = aggregates_.next(event);
                if (!audience_.evaluateFiltersForEvent(event, &counts, &cache))
                    return false;
            }
            if (bundle.dropped)
                return true;
            for (const Property& property : bundle.properties) {
                if (!audience_.evaluateFiltersForNanoUserProperty(
                        *propertyOf(property, startOf(bundle)), &cache, startOf(bundle)))
                    return false;
            }
            handed = handedOut(audience_.resultsForBundling());
            return handed.has_value();
        });
        EXPECT_TRUE(committed);
        return handed;
    }

private:
    DatabaseFolder folder_;
    APMDatabase& database_ = *folder_.database;
    APMAudience audience_ { database_, wideLimits };
    Aggregates aggregates_;
};

// Where a bundle of the engine's road is stopped.
enum class StopAt {
    Never,
    // After its events and properties, before the results are written:
    // the transaction fails.
    BeforeTheWrite,
    // After the results were written and handed out, before the bundle is
    // stored: the transaction fails.
    AfterTheWrite,
    // After its events: the program stops (the evaluator is gone and the
    // transaction never commits); the next run starts a new evaluator.
    ProgramStops,
};

// The engine's road: the bundle evaluator, called as the bundling pass
// calls it, inside one transaction per bundle.
class EngineRoad {
public:
    EngineRoad() { EXPECT_TRUE(evaluator_->updateAudiences(definitions())); }

    APMDatabase& database() { return database_; }

    Handed run(const Bundle& bundle, StopAt stop = StopAt::Never)
    {
        Handed handed;
        const Aggregates before = aggregates_;
        const bool committed = database_.performTransaction([&] {
            if (bundle.sessionStart) {
                evaluator_->clearEvaluationResultsForSessionScopedFilters();
                for (const Property& property : bundle.properties) {
                    if (!evaluator_->evaluateFiltersForUserProperty(
                            *propertyOf(property, startOf(bundle)), std::nullopt))
                        return false;
                }
            }
            evaluator_->beginBundle();
            aggregates_.beginBundle();
            for (const LoggedEvent& logged : bundle.events) {
                const APMEvent event = eventOf(logged);
                if (!evaluator_->evaluateFiltersForEvent(event, aggregates_.next(event)))
                    return false;
            }
            if (stop == StopAt::ProgramStops) {
                evaluator_ = makeEvaluator();
                return false;
            }
            if (bundle.dropped)
                return evaluator_->finishBundle();
            for (const Property& property : bundle.properties) {
                if (!evaluator_->evaluateFiltersForUserProperty(
                        *propertyOf(property, startOf(bundle)), startOf(bundle)))
                    return false;
            }
            if (stop == StopAt::BeforeTheWrite)
                return false;
            handed = handedOut(evaluator_->resultsForBundling());
            return handed.has_value() && stop != StopAt::AfterTheWrite;
        });
        EXPECT_EQ(committed, stop == StopAt::Never);
        if (!committed)
            aggregates_ = before; // the aggregates rows went back too
        return handed;
    }

private:
    std::unique_ptr<APMAudienceBundleEvaluator> makeEvaluator()
    {
        return std::make_unique<APMAudienceBundleEvaluator>(
            std::make_unique<APMAudience>(database_, wideLimits));
    }

    DatabaseFolder folder_;
    APMDatabase& database_ = *folder_.database;
    std::unique_ptr<APMAudienceBundleEvaluator> evaluator_ = makeEvaluator();
    Aggregates aggregates_;
};

TEST(AudienceBundlePassTest, EachBundleStoresAndHandsOutWhatItsEventsOneByOneGive)
{
    for (const Scenario& scenario : scenarios()) {
        SCOPED_TRACE(scenario.name);
        OneByOne reference;
        EngineRoad engine;
        for (size_t i = 0; i < scenario.bundles.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "bundle " << i);
            const Bundle& bundle = scenario.bundles[i];
            const Handed expected = reference.run(bundle);
            EXPECT_EQ(engine.run(bundle), expected);
            EXPECT_EQ(storedRows(engine.database()), storedRows(reference.database()));
            if (!bundle.dropped) {
                ASSERT_TRUE(expected.has_value());
            }
        }
        EXPECT_FALSE(storedRows(reference.database()).isEmpty()) << "the scenario evaluated nothing";
    }
}

TEST(AudienceBundlePassTest, ABundleStoppedBeforeItIsStoredLeavesNothingAndIsEvaluatedAgainInFull)
{
    // Each bundle is first tried with a longer run of events and stopped;
    // the retry may take a shorter run (the run limits come from the
    // configuration), so nothing the stopped try evaluated may reach it.
    // Bundles 1 and 3 start a session: neither may it reach the clean-up nor
    // the properties evaluated at the session start of the retry, which are
    // all that bundle 3 stores of its properties (sampling drops its retry).
    const std::vector<Bundle> bundles {
        { false, { { "buy", 50, 100 }, { "step", 0, 101 }, { "open", 0, 102 } }, { { "tier", "gold" } } },
        { true, { { "buy", 3, 200 }, { "step", 0, 201 }, { "open", 0, 202 }, { "step", 0, 203 } },
            { { "tier", "silver" }, { "level", "4" } } },
        { false, { { "step", 0, 300 }, { "buy", 90, 301 } }, { { "tier", "gold" } } },
        { true, { { "noise", 0, 400 }, { "buy", 2, 401 } }, { { "tier", "gold" }, { "level", "1" } }, true },
    };
    const struct {
        const char* name;
        StopAt stop;
    } stops[] = {
        { "a failure before the write", StopAt::BeforeTheWrite },
        { "a failure after the write, before the bundle is stored", StopAt::AfterTheWrite },
        { "the program stopping after the events", StopAt::ProgramStops },
    };
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.name);
        OneByOne reference;
        EngineRoad engine;
        for (size_t i = 0; i < bundles.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "bundle " << i);
            const Handed expected = reference.run(bundles[i]);
            ASSERT_EQ(expected.has_value(), !bundles[i].dropped);
            const auto storedBefore = storedRows(engine.database());
            Bundle longer = bundles[i];
            longer.dropped = false;
            const double last = longer.events.back().time;
            longer.events.insert(longer.events.end(),
                { { "buy", 99, last + 1 }, { "open", 0, last + 2 }, { "step", 0, last + 3 },
                    { "buy", 1, last + 4 } });
            engine.run(longer, stop.stop);
            EXPECT_EQ(storedRows(engine.database()), storedBefore) << "a stopped bundle left results behind";
            EXPECT_EQ(engine.run(bundles[i]), expected);
            EXPECT_EQ(storedRows(engine.database()), storedRows(reference.database()));
        }
    }
}

} // namespace audience_bundle_pass_test
