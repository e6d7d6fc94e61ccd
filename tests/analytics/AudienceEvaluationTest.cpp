// Audience evaluation over a real measurement database: storing the
// configuration's definitions, evaluating events and user properties into
// result records with their timestamps, bundling the results (and what the
// bundle then carries on the wire), and the session-scoped clean-up.

#include "AudienceTestSupport.h"
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/base/APMValue.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMPropertyFilter.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace audience_test;

namespace audience_evaluation_test {

// A result record as plain values.
struct Record {
    QList<quint64> status, results;
    QMap<qint32, qint64> dynamic;
    QMap<qint32, QList<qint64>> sequence;
};

Record recordFrom(const APMPBResultData& message)
{
    Record record;
    for (const QVariant& word : APMPBGetArrayField(&message, 0))
        record.status.append(word.toULongLong());
    for (const QVariant& word : APMPBGetArrayField(&message, 1))
        record.results.append(word.toULongLong());
    for (const auto& entry : APMPBGetArrayField<APMPBDynamicFilterResultTimestamp>(&message, 2))
        record.dynamic.insert(APMPBGetInt32Field(entry.get(), 0), APMPBGetInt64Field(entry.get(), 1));
    for (const auto& entry : APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(&message, 3)) {
        QList<qint64> times;
        for (const QVariant& time : APMPBGetArrayField(entry.get(), 1))
            times.append(time.toLongLong());
        record.sequence.insert(APMPBGetInt32Field(entry.get(), 0), times);
    }
    return record;
}

std::optional<Record> recordFrom(const QByteArray& bytes)
{
    const auto message = APMPBResultData::initWithBuffer(bytes);
    if (bytes.isEmpty() || !message)
        return std::nullopt;
    return recordFrom(*message);
}

class AudienceEvaluationTest : public ::testing::Test {
protected:
    DatabaseFolder folder;
    APMDatabase& db = *folder.database;
    APMAudienceLimits limits;
    APMAudience evaluator { db, [this] { return limits; } };

    void store(std::unique_ptr<APMPBAudience> one)
    {
        std::vector<std::unique_ptr<APMPBAudience>> list;
        list.push_back(std::move(one));
        ASSERT_TRUE(evaluator.updateAudiences(list));
    }

    bool logEvent(const QString& name, const EventParameters& parameters, double time,
        APMAudienceTimestampsCache* cache = nullptr)
    {
        return evaluator.evaluateFiltersForEventName(name, parameters, nullptr, time, cache);
    }

    bool setProperty(const QString& name, const APMValue& value, double time)
    {
        const auto attribute = APMUserAttribute::initWithOrigin("app", name, value, time);
        return attribute && evaluator.evaluateFiltersForUserProperty(*attribute, nullptr, time);
    }

    std::optional<Record> current(qint32 audienceID)
    {
        const auto row = db.filterResultForAudienceID(audienceID, nullptr);
        return row ? recordFrom(row->currentResults()) : std::nullopt;
    }

    bool matched(qint32 audienceID, qint32 filterID)
    {
        const auto row = db.filterResultForAudienceID(audienceID, nullptr);
        return row && APMAudience::isFilterResultTrueForFilterID(&*row, filterID);
    }
};

APMValue evalText(const QString& value)
{
    return *APMValue::initWithString(value);
}

} // namespace audience_evaluation_test

using namespace audience_evaluation_test;

TEST_F(AudienceEvaluationTest, StoresCheckedDefinitionsWithInternalNames)
{
    std::vector<std::unique_ptr<APMPBAudience>> list;
    list.push_back(audience(1, listOf(eventFilter(0, "first_open", listOf(stringOf("origin", kMatchExact, "x")))),
        listOf(propertyFilter(1, "first_open_time", numberOf(QString(), kComparisonGreaterThan, "0").get()))));
    list.push_back(audience(2, {})); // no filters: refused
    list.push_back(audience(3, listOf(eventFilter(0, "level_up"))));
    ASSERT_TRUE(evaluator.updateAudiences(list));
    const auto firstOpen = db.eventFiltersForEventName("_f", nullptr);
    ASSERT_TRUE(firstOpen.has_value());
    ASSERT_EQ(firstOpen->size(), 1);
    EXPECT_EQ(firstOpen->first().audienceID(), 1);
    const auto properties = db.propertyFiltersForPropertyName("_fot", nullptr);
    ASSERT_TRUE(properties.has_value());
    EXPECT_EQ(properties->size(), 1);
    EXPECT_EQ(db.eventFiltersForEventName("level_up", nullptr)->size(), 1);
    EXPECT_EQ(*db.allAudienceIDs(nullptr), (QList<qint32> { 1, 3 }));

    // One audience more than the limit: nothing is stored or deleted, and
    // the call still succeeds.
    limits.maxAudienceCount = 1;
    list.clear();
    list.push_back(audience(7, listOf(eventFilter(0, "a"))));
    list.push_back(audience(8, listOf(eventFilter(0, "b"))));
    EXPECT_TRUE(evaluator.updateAudiences(list));
    EXPECT_EQ(*db.allAudienceIDs(nullptr), (QList<qint32> { 1, 3 }));
}

TEST_F(AudienceEvaluationTest, ANewConfigurationReplacesTheDefinitionsEarlierEvaluationsRead)
{
    // Filter rows are kept per name between evaluations, names without
    // filters too: a new configuration must reach the next evaluation.
    store(audience(1, listOf(eventFilter(0, "buy", {}, nullptr, { .dynamic = true }))));
    ASSERT_TRUE(logEvent("sell", {}, 100));
    ASSERT_TRUE(setProperty("tier", evalText("gold"), 100));
    ASSERT_TRUE(logEvent("buy", {}, 100));
    ASSERT_TRUE(matched(1, 0));
    const auto before = db.filterResultForAudienceID(1, nullptr)->currentResults();

    store(audience(2, listOf(eventFilter(0, "sell")),
        listOf(propertyFilter(1, "tier", valueFilter(stringFilter(kMatchExact, "gold").get(), nullptr).get()))));
    ASSERT_TRUE(logEvent("sell", {}, 200));
    ASSERT_TRUE(setProperty("tier", evalText("gold"), 200));
    ASSERT_TRUE(logEvent("buy", {}, 200));
    EXPECT_TRUE(matched(2, 0));
    EXPECT_TRUE(matched(2, 1));
    // "buy" has no filter now: its dynamic time stays.
    EXPECT_EQ(db.filterResultForAudienceID(1, nullptr)->currentResults(), before);
}

TEST_F(AudienceEvaluationTest, APlainEventFilterThatMatchedIsNotEvaluatedAgain)
{
    store(audience(1, listOf(eventFilter(0, "buy", listOf(numberOf("value", kComparisonGreaterThan, "10"))))));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(5) } }, 100));
    ASSERT_TRUE(current(1));
    EXPECT_EQ(current(1)->status, (QList<quint64> { 1 }));
    EXPECT_FALSE(matched(1, 0));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(50) } }, 200));
    EXPECT_TRUE(matched(1, 0));
    const QByteArray before = db.filterResultForAudienceID(1, nullptr)->currentResults();
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(1) } }, 300));
    EXPECT_EQ(db.filterResultForAudienceID(1, nullptr)->currentResults(), before);
    EXPECT_TRUE(current(1)->dynamic.isEmpty());
}

TEST_F(AudienceEvaluationTest, ADynamicEventFilterStaysMatchedAndMovesItsTimeForward)
{
    store(audience(1,
        listOf(eventFilter(3, "buy", listOf(numberOf("value", kComparisonGreaterThan, "10")), nullptr,
            { .dynamic = true }))));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(50) } }, 100.9));
    EXPECT_TRUE(matched(1, 3));
    EXPECT_EQ(current(1)->dynamic, (QMap<qint32, qint64> { { 3, 100 } }));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(1) } }, 200));
    EXPECT_TRUE(matched(1, 3));
    EXPECT_EQ(current(1)->dynamic.value(3), 100);
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(99) } }, 300));
    EXPECT_EQ(current(1)->dynamic.value(3), 300);
}

TEST_F(AudienceEvaluationTest, ADynamicPropertyFilterFollowsTheValueAndAPlainOneKeepsItsMatch)
{
    const auto gold = valueFilter(stringFilter(kMatchExact, "gold").get(), nullptr);
    std::vector<std::unique_ptr<APMPBAudience>> both;
    both.push_back(audience(1, {}, listOf(propertyFilter(0, "tier", gold.get(), { .dynamic = true }))));
    both.push_back(audience(2, {}, listOf(propertyFilter(0, "tier", gold.get()))));
    ASSERT_TRUE(evaluator.updateAudiences(both));

    ASSERT_TRUE(setProperty("tier", evalText("gold"), 100));
    EXPECT_TRUE(matched(1, 0));
    EXPECT_TRUE(matched(2, 0));
    ASSERT_TRUE(setProperty("tier", evalText("silver"), 200));
    EXPECT_FALSE(matched(1, 0));
    EXPECT_EQ(current(1)->status, (QList<quint64> { 1 })); // evaluated, not matched
    EXPECT_TRUE(matched(2, 0));
}

TEST_F(AudienceEvaluationTest, AnEventThatCannotBeEvaluatedSetsNoStatusBit)
{
    std::vector<std::unique_ptr<APMPBEventFilter>> filters;
    filters.push_back(eventFilter(0, "buy", listOf(stringOf("coupon", kMatchExact, "x"))));
    filters.push_back(eventFilter(1, "buy"));
    store(audience(1, std::move(filters)));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(5) } }, 100));
    EXPECT_EQ(current(1)->status, (QList<quint64> { 0b10 }));
    EXPECT_EQ(current(1)->results, (QList<quint64> { 0b10 }));
}

TEST_F(AudienceEvaluationTest, AMalformedNumberFailsOnlyItsOwnFilter)
{
    // The number passes the definition check (it is decimal text) but
    // cannot be held exactly: that filter is not evaluable, the other one
    // of the same event still is.
    std::vector<std::unique_ptr<APMPBEventFilter>> filters;
    filters.push_back(eventFilter(0, "buy",
        listOf(numberOf("value", kComparisonGreaterThan, "1234567890123456789012345678901234567890123"))));
    filters.push_back(eventFilter(1, "buy", listOf(numberOf("value", kComparisonGreaterThan, "0.5"))));
    store(audience(1, std::move(filters)));
    ASSERT_TRUE(logEvent("buy", { { "value", APMValue::initWithInt64(5) } }, 100));
    EXPECT_EQ(current(1)->status, (QList<quint64> { 0b10 }));
    EXPECT_TRUE(matched(1, 1));
}

TEST_F(AudienceEvaluationTest, HighFilterIDsGrowBothWordLists)
{
    APMAudienceTimestampsCache cache;
    const APMFilterResult result = APMAudience::updatedFilterResultWithFilterID(130, 4, nullptr, true, cache);
    const auto record = recordFrom(result.currentResults());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->status, (QList<quint64> { 0, 0, 4 }));
    EXPECT_EQ(record->results, (QList<quint64> { 0, 0, 4 }));
    const APMFilterResult cleared = APMAudience::updatedFilterResultWithFilterID(130, 4, &result, false, cache);
    EXPECT_EQ(recordFrom(cleared.currentResults())->results, (QList<quint64> { 0, 0, 0 }));
    EXPECT_EQ(recordFrom(cleared.currentResults())->status, (QList<quint64> { 0, 0, 4 }));
}

TEST_F(AudienceEvaluationTest, SequenceFiltersKeepOneTimePerWholeSecondWithinAPass)
{
    store(audience(1, listOf(eventFilter(2, "step", {}, nullptr, { .sequence = true }))));
    APMAudienceTimestampsCache pass;
    ASSERT_TRUE(logEvent("step", {}, 100.2, &pass));
    ASSERT_TRUE(logEvent("step", {}, 100.7, &pass));
    EXPECT_EQ(current(1)->sequence.value(2), (QList<qint64> { 100 }));
    ASSERT_TRUE(logEvent("step", {}, 101.1, &pass));
    EXPECT_EQ(current(1)->sequence.value(2), (QList<qint64> { 100, 101 }));
    // A new pass starts from the last stored time only.
    APMAudienceTimestampsCache next;
    ASSERT_TRUE(logEvent("step", {}, 105, &next));
    EXPECT_EQ(current(1)->sequence.value(2), (QList<qint64> { 101, 105 }));
}

TEST_F(AudienceEvaluationTest, TimestampCachesHandleOutOfOrderTimes)
{
    const APMEventFilter dynamic(1, 0, "e", {}, false, true, false);
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(nullptr, 1);
    cache.addEvaluationTimestamp(50, dynamic);
    cache.addEvaluationTimestamp(40, dynamic); // earlier: kept at 50
    const auto dynamicTimes = cache.dynamicTimestampsForAudienceID(1);
    ASSERT_EQ(dynamicTimes.size(), 1u);
    EXPECT_EQ(APMPBGetInt64Field(dynamicTimes[0].get(), 1), 50);

    APMSequenceTimestampsCache sequence(1);
    sequence.setUserPropertyTimestamp(30, 4);
    sequence.setUserPropertyTimestamp(20, 4);
    EXPECT_EQ(sequence.sequenceTimestampsForFilterID(4), (QList<double> { 20 }));
    EXPECT_FALSE(sequence.sequenceTimestampsForFilterID(5).has_value());

    // A stored entry of 10, 20, 30 comes back into a new pass as 30 alone.
    auto stored = APMPBResultData::initWithMessageInfo();
    auto entry = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
    APMPBSetInt32Field(entry.get(), 0, 6);
    APMPBSetArrayField(entry.get(), 1, QVariantList { 10, 20, 30 });
    APMPBSetArrayField(stored.get(), 3, listOf(std::move(entry)));
    const APMFilterResult row(9, *stored->protoBuffer(), {});
    APMAudienceTimestampsCache loaded;
    loaded.populateCachedTimestamps(&row, 9);
    const auto sequences = loaded.sequenceTimestampsForAudienceID(9);
    ASSERT_TRUE(sequences && sequences->size() == 1);
    EXPECT_EQ(APMPBGetArrayField((*sequences)[0].get(), 1), (QVariantList { qint64(30) }));
    EXPECT_FALSE(loaded.sequenceTimestampsForAudienceID(10).has_value());
}

TEST_F(AudienceEvaluationTest, BundlingHandsOutResultsAndMakesCurrentThePrevious)
{
    store(audience(1, listOf(eventFilter(0, "step", {}, nullptr, { .sequence = true }))));
    APMAudienceTimestampsCache pass;
    ASSERT_TRUE(logEvent("step", {}, 100, &pass));
    ASSERT_TRUE(logEvent("step", {}, 200, &pass));

    auto first = evaluator.resultsForBundling();
    ASSERT_TRUE(first && first->size() == 1);
    const auto& leaf = first->front();
    EXPECT_EQ(APMPBGetInt32Field(leaf.get(), 0), 1);
    EXPECT_TRUE(APMPBGetBoolField(leaf.get(), 3)); // no previous result yet
    EXPECT_FALSE(APMPBHasField(leaf.get(), 2));
    auto firstCurrent = APMPBGetMessageField<APMPBResultData>(leaf.get(), 1);
    EXPECT_EQ(recordFrom(*firstCurrent).sequence.value(0), (QList<qint64> { 100, 200 }));

    // Nothing evaluated since: no previous result, and the lowest sequence
    // entry keeps only its latest time.
    auto second = evaluator.resultsForBundling();
    ASSERT_TRUE(second && second->size() == 1);
    EXPECT_FALSE(APMPBGetBoolField(second->front().get(), 3));
    EXPECT_FALSE(APMPBHasField(second->front().get(), 2));
    EXPECT_EQ(recordFrom(*APMPBGetMessageField<APMPBResultData>(second->front().get(), 1)).sequence.value(0),
        (QList<qint64> { 200 }));

    // A new evaluation: the bundle carries as previous what the last bundle
    // found stored (before its cut).
    ASSERT_TRUE(logEvent("step", {}, 300));
    auto third = evaluator.resultsForBundling();
    ASSERT_TRUE(third && third->size() == 1);
    auto previous = APMPBGetMessageField<APMPBResultData>(third->front().get(), 2);
    ASSERT_TRUE(previous);
    EXPECT_EQ(recordFrom(*previous).sequence.value(0), (QList<qint64> { 100, 200 }));
    EXPECT_EQ(recordFrom(*APMPBGetMessageField<APMPBResultData>(third->front().get(), 1)).sequence.value(0),
        (QList<qint64> { 200, 300 }));
}

TEST_F(AudienceEvaluationTest, AnAudienceWithoutStatusBitsIsNotBundled)
{
    APMAudienceTimestampsCache cache;
    const APMFilterResult set = APMAudience::updatedFilterResultWithFilterID(3, 5, nullptr, true, cache);
    const APMFilterResult unset = APMAudience::updatedFilterResultWithFilterID(3, 5, &set, std::nullopt, cache);
    ASSERT_TRUE(db.updateFilterResults({ unset }, nullptr));
    const auto bundled = evaluator.resultsForBundling();
    ASSERT_TRUE(bundled);
    EXPECT_TRUE(bundled->empty());
    EXPECT_EQ(db.filterResultForAudienceID(5, nullptr)->currentResults(), unset.currentResults());
    EXPECT_TRUE(db.filterResultForAudienceID(5, nullptr)->previousResults().isEmpty());
}

TEST_F(AudienceEvaluationTest, ASessionStartClearsSessionScopedResults)
{
    std::vector<std::unique_ptr<APMPBEventFilter>> mixed;
    mixed.push_back(eventFilter(0, "open", {}, nullptr, { .sessionScoped = true }));
    mixed.push_back(eventFilter(1, "open"));
    std::vector<std::unique_ptr<APMPBAudience>> list;
    list.push_back(audience(1, std::move(mixed)));
    list.push_back(audience(2, listOf(eventFilter(0, "open", {}, nullptr, { .sessionScoped = true }))));
    ASSERT_TRUE(evaluator.updateAudiences(list));
    ASSERT_TRUE(logEvent("open", {}, 100));
    EXPECT_EQ(current(1)->dynamic, (QMap<qint32, qint64> { { 0, 100 } }));
    ASSERT_TRUE(evaluator.clearEvaluationResultsForSessionScopedFilters());
    EXPECT_EQ(current(1)->status, (QList<quint64> { 0b10 }));
    EXPECT_TRUE(current(1)->dynamic.isEmpty());
    EXPECT_FALSE(db.filterResultForAudienceID(2, nullptr).has_value()); // nothing left: row gone
}

TEST_F(AudienceEvaluationTest, BundleUserPropertiesAreEvaluatedInTheirWireForm)
{
    store(audience(1, {}, listOf(propertyFilter(0, "level", numberOf(QString(), kComparisonBetween, {}, "1", "3").get()))));
    auto property = APMPBUserAttribute::initWithMessageInfo();
    APMPBSetInt64Field(property.get(), 0, 42'000);
    APMPBSetStringField(property.get(), 1, "level");
    APMPBSetInt64Field(property.get(), 3, 2);
    ASSERT_TRUE(evaluator.evaluateFiltersForNanoUserProperty(*property, nullptr, std::nullopt));
    EXPECT_TRUE(matched(1, 0));
    auto empty = APMPBUserAttribute::initWithMessageInfo();
    APMPBSetStringField(empty.get(), 1, "level");
    EXPECT_FALSE(evaluator.evaluateFiltersForNanoUserProperty(*empty, nullptr, std::nullopt));
}

TEST_F(AudienceEvaluationTest, ResultsTravelInTheBundleAsTheWireSchemaSays)
{
    store(audience(17, listOf(eventFilter(5, "buy", {}, nullptr, { .dynamic = true }))));
    ASSERT_TRUE(logEvent("buy", {}, 1'700'000'123.75));
    auto leaves = evaluator.resultsForBundling();
    ASSERT_TRUE(leaves && leaves->size() == 1);
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetArrayField(bundle.get(), 28, *leaves);
    const QByteArray bytes = *bundle->protoBuffer();

    // protoc reads the bytes with its own transcription of the schema.
    const QString protoc = QStandardPaths::findExecutable("protoc");
    const QString root = qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR");
    ASSERT_FALSE(protoc.isEmpty() || root.isEmpty()) << "protoc and PRAVIK_TEST_SOURCE_DIR are needed";
    QProcess process;
    process.start(protoc,
        { "--decode=wire.MeasurementBundle", "-I", QDir(root).filePath("analytics/data"), "wire_messages.proto" });
    ASSERT_TRUE(process.waitForStarted(10000));
    process.write(bytes);
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString decoded = QString::fromUtf8(process.readAllStandardOutput()).simplified();
    EXPECT_EQ(decoded,
        "audience_evaluation_results { audience_id: 17 current_results { status: 32 results: 32 "
        "dynamic_filter_timestamps { filter_id: 5 timestamp_millis: 1700000123 } } previous_results_cleared: true }");
}

TEST_F(AudienceEvaluationTest, TheEnginesBundleRoadGivesWhatItsEventsOneByOneGive)
{
    std::vector<std::unique_ptr<APMPBAudience>> list;
    std::vector<std::unique_ptr<APMPBEventFilter>> filters;
    filters.push_back(eventFilter(0, "buy", listOf(numberOf("value", kComparisonGreaterThan, "10")), nullptr,
        { .dynamic = true }));
    filters.push_back(eventFilter(1, "step", {}, nullptr, { .sequence = true }));
    list.push_back(audience(1, std::move(filters),
        listOf(propertyFilter(2, "tier", valueFilter(stringFilter(kMatchExact, "gold").get(), nullptr).get()))));
    list.push_back(audience(2, listOf(eventFilter(0, "buy"))));
    ASSERT_TRUE(evaluator.updateAudiences(list));
    std::vector<APMEvent> events;
    for (int i = 0; i < 6; ++i) {
        events.push_back(*APMEvent::initWithOrigin("app", false, i % 2 ? "buy" : "step", 100 + i * 1.5, 0,
            { { "value", i * 4 } }, EventParameterLimits()));
    }
    const auto tier = *APMUserAttribute::initWithOrigin("app", "tier", evalText("gold"), 50);

    APMAudienceTimestampsCache oneByOne;
    for (const APMEvent& event : events)
        ASSERT_TRUE(evaluator.evaluateFiltersForEvent(event, nullptr, &oneByOne));
    ASSERT_TRUE(evaluator.evaluateFiltersForUserProperty(tier, &oneByOne, 200));
    const QByteArray first = db.filterResultForAudienceID(1, nullptr)->currentResults();
    const QByteArray second = db.filterResultForAudienceID(2, nullptr)->currentResults();
    ASSERT_TRUE(db.deleteFilterResults({ *db.filterResultForAudienceID(1, nullptr), *db.filterResultForAudienceID(2, nullptr) }, nullptr));

    // The engine's evaluator: one timestamps cache for the bundle, every
    // event with the aggregates of its name, the property in its bundle form.
    APMAudienceBundleEvaluator engine(std::make_unique<APMAudience>(db));
    engine.beginBundle();
    for (const APMEvent& event : events) {
        const auto aggregates = APMEventAggregates::initWithName(event.name(), 1, 1, 1, 0);
        ASSERT_TRUE(aggregates && engine.evaluateFiltersForEvent(event, *aggregates));
    }
    ASSERT_TRUE(engine.evaluateFiltersForUserProperty(*tier.protoUserAttribute(), 200));
    ASSERT_TRUE(engine.finishBundle());
    EXPECT_EQ(db.filterResultForAudienceID(1, nullptr)->currentResults(), first);
    EXPECT_EQ(db.filterResultForAudienceID(2, nullptr)->currentResults(), second);
    EXPECT_EQ(current(1)->sequence.value(1), (QList<qint64> { 100, 103, 106 }));
    EXPECT_EQ(current(1)->dynamic.value(0), 107);
}

TEST_F(AudienceEvaluationTest, OverTheResultLimitWithNothingStaleTheDefinitionsAreStillSaved)
{
    // The data layer refuses an empty delete; with nothing stale the
    // clean-up must not ask for one and fail the whole configuration.
    store(audience(1, listOf(eventFilter(0, "buy"))));
    ASSERT_TRUE(logEvent("buy", {}, 100));
    limits.maxFilterResultCount = 0;
    std::vector<std::unique_ptr<APMPBAudience>> list;
    list.push_back(audience(1, listOf(eventFilter(0, "sell"))));
    EXPECT_TRUE(evaluator.updateAudiences(list));
    EXPECT_EQ(db.eventFiltersForEventName("sell", nullptr)->size(), 1);
    EXPECT_TRUE(db.filterResultForAudienceID(1, nullptr).has_value());
    // A result of an audience that is gone is stale and goes.
    list.clear();
    list.push_back(audience(2, listOf(eventFilter(0, "sell"))));
    ASSERT_TRUE(evaluator.updateAudiences(list)); // audience 1 still stored while cleaning up
    list.clear();
    list.push_back(audience(3, listOf(eventFilter(0, "sell"))));
    ASSERT_TRUE(evaluator.updateAudiences(list));
    EXPECT_FALSE(db.filterResultForAudienceID(1, nullptr).has_value());
}

TEST_F(AudienceEvaluationTest, AStoredFilterWithAnIDBeyondTheConfigurationsRangeIsSkipped)
{
    // A damaged or foreign row: evaluating it would grow the word lists to
    // the ID's size.
    const auto filter = eventFilter(5000, "buy");
    ASSERT_TRUE(db.updateEventFilters(
        { APMEventFilter(1, 5000, "buy", *filter->protoBuffer(), false, false, false),
            APMEventFilter(1, 2, "buy", *eventFilter(2, "buy")->protoBuffer(), false, false, false) },
        nullptr));
    ASSERT_TRUE(logEvent("buy", {}, 100));
    EXPECT_EQ(current(1)->status, (QList<quint64> { 0b100 }));
}
