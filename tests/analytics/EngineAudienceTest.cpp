// Audiences and conditional user properties in the engine: the audience
// definitions of an applied configuration are evaluated on the events of
// every bundle and their results reach the collection server with the
// bundle; a conditional user property triggered by a logged event reaches
// the server as a user property.
#include "AudienceTestSupport.h"
#include "EngineTestFixture.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/base/APMValue.h"
#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/engine/APMEventSampler.h"
#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBResultData.h"

using namespace engine_test;

namespace engine_audience_test {

constexpr int32_t kConfigAudiencesSlotInTest = 5; // field 6 of the configuration

// Sampling that keeps no event while `dropping` holds, and every event after.
class DroppingSampler final : public APMEventSampler {
public:
    bool dropping = true;
    std::optional<Events> sampleEvents(Events events, APMError*) override
    {
        return dropping ? Events() : std::move(events);
    }
};

class EngineAudienceTest : public EngineFixture {
protected:
    // Applies a configuration with these audiences the way a fetched body is applied.
    bool applyAudiences(std::vector<std::unique_ptr<APMPBAudience>> audiences, const QString& appID = rcfg::kAppID)
    {
        rcfg::ConfigBuilder builder(appID);
        builder.setting(QStringLiteral("measurement.upload.interval"), QStringLiteral("3600000"));
        auto config = APMPBMeasurementConfig::initWithBuffer(builder.bytes());
        EXPECT_TRUE(config);
        if (!config)
            return false;
        APMPBSetArrayField(config.get(), kConfigAudiencesSlotInTest, audiences);
        const QByteArray body = config->protoBuffer().value_or(QByteArray());
        bool applied = false;
        engine_->dispatchSyncOnWorkerQueue([&] { applied = engine_->configFetcher().applyMeasurementConfigData(body); });
        return applied;
    }

    QList<fakes::FakeCollectionServer::Bundle> uploadedBundles()
    {
        advance(15); // measurement.upload.initial_upload_delay_time
        QList<fakes::FakeCollectionServer::Bundle> bundles;
        for (const auto& batch : server_.batches()) {
            EXPECT_TRUE(batch.problems.isEmpty()) << batch.problems.join(QStringLiteral("; ")).toStdString();
            if (batch.accepted())
                bundles.append(batch.bundles);
        }
        return bundles;
    }
};

TEST_F(EngineAudienceTest, AudienceResultsTravelWithTheUploadedBundle)
{
    using namespace audience_test;
    start(rcfg::kAppID);
    std::vector<std::unique_ptr<APMPBAudience>> audiences;
    // Audience 7: filter 0 matches "checkout", filter 1 a checkout of an
    // amount above 9; audience 8 waits for an event never logged.
    std::vector<std::unique_ptr<APMPBEventFilter>> checkouts;
    checkouts.push_back(eventFilter(0, QStringLiteral("checkout")));
    std::vector<std::unique_ptr<APMPBFilter>> amountAboveNine;
    amountAboveNine.push_back(numberOf(QStringLiteral("amount"), kComparisonGreaterThan, QStringLiteral("9")));
    checkouts.push_back(eventFilter(1, QStringLiteral("checkout"), std::move(amountAboveNine)));
    audiences.push_back(audience(7, std::move(checkouts)));
    audiences.push_back(audience(8, listOf(eventFilter(0, QStringLiteral("refund")))));
    ASSERT_TRUE(applyAudiences(std::move(audiences)));

    logEvent(QStringLiteral("checkout"), { { QStringLiteral("amount"), 4 } });
    const auto bundles = uploadedBundles();
    ASSERT_EQ(bundles.size(), 1);
    const auto* result = bundles[0].audienceResult(7);
    ASSERT_TRUE(result);
    // Both filters evaluated; only the first matched.
    EXPECT_EQ(result->statusWords, (QList<quint64> { 0b11 }));
    EXPECT_EQ(result->resultWords, (QList<quint64> { 0b01 }));
    EXPECT_TRUE(result->isNew);
    EXPECT_FALSE(bundles[0].audienceResult(8)) << "no filter of audience 8 was evaluated";
}

TEST_F(EngineAudienceTest, ABundleThatSamplingDropsKeepsItsEventsAudienceResultsForTheNext)
{
    using namespace audience_test;
    auto sampler = std::make_shared<DroppingSampler>();
    APMMeasurement::Environment e = environment();
    e.sampler = sampler;
    start(rcfg::kAppID, true, &e);
    ASSERT_TRUE(applyAudiences(listOf(audience(7, listOf(eventFilter(0, QStringLiteral("checkout")))))));
    rcfg::ConfigBuilder sampling(rcfg::kAppID);
    sampling.setting(QStringLiteral("measurement.event_sampling_enabled"), QStringLiteral("1"));
    ASSERT_TRUE(configure(sampling));

    logEvent(QStringLiteral("checkout"));
    ASSERT_TRUE(bundle());
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0) << "sampling left no event: no bundle";

    sampler->dropping = false;
    logEvent(QStringLiteral("browse"));
    const auto bundles = uploadedBundles();
    ASSERT_EQ(bundles.size(), 1);
    const auto* result = bundles[0].audienceResult(7);
    ASSERT_TRUE(result) << "the dropped bundle's checkout was evaluated, and its result must stay";
    EXPECT_EQ(result->statusWords, (QList<quint64> { 1 }));
    EXPECT_EQ(result->resultWords, (QList<quint64> { 1 }));
}

TEST_F(EngineAudienceTest, ASessionStartLeavesNoTimeForASessionScopedFilterItCleared)
{
    using namespace audience_test;
    start(rcfg::kAppID);
    // Audience 9, filter 0: the property "tier" is "gold", within a session.
    const auto gold = stringOf(QString(), kMatchExact, QStringLiteral("gold"));
    std::vector<std::unique_ptr<APMPBAudience>> audiences;
    audiences.push_back(audience(
        9, {}, listOf(propertyFilter(0, QStringLiteral("tier"), gold.get(), { .dynamic = true, .sessionScoped = true }))));
    ASSERT_TRUE(applyAudiences(std::move(audiences)));
    const auto setTier = [&](const QString& tier) {
        bool stored = false;
        engine_->dispatchSyncOnWorkerQueue([&] {
            stored = engine_->setUserPropertyInDatabaseOnWorkerQueue(*APMUserAttribute::initWithOrigin(
                QStringLiteral("app"), QStringLiteral("tier"), *APMValue::initWithString(tier), time_.now()));
        });
        return stored;
    };
    const auto storedRecord = [&] {
        std::optional<APMFilterResult> row;
        engine_->dispatchSyncOnWorkerQueue(
            [&] { row = engine_->database()->filterResultForAudienceID(9, nullptr); });
        EXPECT_TRUE(row.has_value());
        return row ? APMPBResultData::initWithBuffer(row->currentResults()) : nullptr;
    };
    const auto hasTimeForFilterZero = [](const APMPBResultData& message) {
        for (const auto& entry : APMPBGetArrayField<APMPBDynamicFilterResultTimestamp>(&message, 2)) {
            if (APMPBGetInt32Field(entry.get(), 0) == 0)
                return true;
        }
        return false;
    };

    ASSERT_TRUE(setTier(QStringLiteral("gold")));
    logEvent(QStringLiteral("browse"));
    ASSERT_TRUE(bundle());
    const auto matched = storedRecord();
    ASSERT_TRUE(matched);
    EXPECT_TRUE(hasTimeForFilterZero(*matched));

    ASSERT_TRUE(setTier(QStringLiteral("silver")));
    engine_->logEventWithOrigin(QStringLiteral("auto"), false, QStringLiteral("_s"), {}, time_.now(), true,
        false, false, nullptr, {});
    drain();
    ASSERT_TRUE(bundle());
    const auto cleared = storedRecord();
    ASSERT_TRUE(cleared);
    const QVariantList results = APMPBGetArrayField(cleared.get(), 1);
    EXPECT_TRUE(results.isEmpty() || (results.first().toULongLong() & 1) == 0) << "silver is no gold";
    EXPECT_FALSE(hasTimeForFilterZero(*cleared))
        << "a time survived for the filter the session start cleared";
}

TEST_F(EngineAudienceTest, AConfigurationForAnotherAppOrUnreadableIsNotApplied)
{
    using namespace audience_test;
    start(rcfg::kAppID);
    EXPECT_FALSE(applyAudiences(listOf(audience(7, listOf(eventFilter(0, QStringLiteral("checkout"))))),
        QStringLiteral("1:999:linux:ffff")));
    bool applied = true;
    engine_->dispatchSyncOnWorkerQueue(
        [&] { applied = engine_->configFetcher().applyMeasurementConfigData(QByteArrayLiteral("\xff\xff\xff")); });
    EXPECT_FALSE(applied);
    EXPECT_EQ(rowCount(APMDatabase::kEventFiltersTable), 0);

    logEvent(QStringLiteral("checkout"));
    const auto bundles = uploadedBundles();
    ASSERT_EQ(bundles.size(), 1);
    EXPECT_TRUE(bundles[0].audienceResults.isEmpty());
}

TEST_F(EngineAudienceTest, WipingTheDataForgetsTheAudiences)
{
    using namespace audience_test;
    start(rcfg::kAppID);
    ASSERT_TRUE(applyAudiences(listOf(audience(7, listOf(eventFilter(0, QStringLiteral("checkout")))))));
    // Evaluated once, so the evaluator has read the definitions.
    logEvent(QStringLiteral("checkout"));
    ASSERT_TRUE(bundle());
    bool wiped = false;
    engine_->dispatchSyncOnWorkerQueue([&] { wiped = engine_->lifecycle().wipeoutAnalyticsDataAndResetComponents(); });
    ASSERT_TRUE(wiped);

    logEvent(QStringLiteral("checkout"));
    const auto bundles = uploadedBundles();
    ASSERT_EQ(bundles.size(), 1);
    EXPECT_TRUE(bundles[0].audienceResults.isEmpty());
}

TEST_F(EngineAudienceTest, ATriggeredConditionalPropertyReachesTheServerAsAUserProperty)
{
    start();
    ASSERT_TRUE(engine_->conditionalUserPropertyController());
    APMConditionalUserProperty property;
    property.setOrigin(QStringLiteral("app"));
    property.setValue(APMValue::initWithString(QStringLiteral("gold")));
    property.setTriggerEventName(QStringLiteral("checkout"));
    property.setTriggerTimeout(60);
    property.setTimeToLive(3600);
    property.setTriggeredEvent(*APMEvent::initWithOrigin(QStringLiteral("app"), false, QStringLiteral("tier_on"), 0,
        0, {}, EventParameterLimits()));
    engine_->conditionalUserPropertyController()->setConditionalUserProperty(property, QStringLiteral("tier"));
    drain();

    logEvent(QStringLiteral("browse"));
    logEvent(QStringLiteral("checkout"));
    const auto bundles = uploadedBundles();
    ASSERT_FALSE(bundles.isEmpty());
    QStringList names;
    QVariant tier;
    for (const auto& bundle : bundles) {
        for (const auto& event : bundle.events)
            names.append(event.name);
        if (bundle.userProperties.contains(QStringLiteral("tier")))
            tier = bundle.userProperties.value(QStringLiteral("tier"));
    }
    EXPECT_EQ(tier, QVariant(QStringLiteral("gold")));
    // The triggered event follows the event that triggered it.
    const qsizetype trigger = names.indexOf(QStringLiteral("checkout"));
    ASSERT_GE(trigger, 0);
    EXPECT_EQ(names.indexOf(QStringLiteral("tier_on")), trigger + 1);
}

TEST_F(EngineAudienceTest, ConditionalPropertiesAreQueriedFromAnyThreadAndFromTheWorkerQueue)
{
    start();
    APMConditionalUserPropertyController* controller = engine_->conditionalUserPropertyController();
    ASSERT_TRUE(controller);
    APMConditionalUserProperty property;
    property.setOrigin(QStringLiteral("app"));
    property.setValue(APMValue::initWithString(QStringLiteral("gold")));
    property.setTriggerTimeout(60);
    property.setTimeToLive(3600);
    controller->setConditionalUserProperty(property, QStringLiteral("tier"));

    const auto fromHere = controller->conditionalUserPropertiesWithNamePrefix(QStringLiteral("ti"), QString());
    ASSERT_TRUE(fromHere);
    ASSERT_EQ(fromHere->size(), 1);
    EXPECT_EQ(fromHere->front().name(), QStringLiteral("tier"));

    // A task of the worker queue is answered at once, not after the time-out.
    std::optional<QList<APMConditionalUserProperty>> fromWorker;
    engine_->dispatchSyncOnWorkerQueue([&] {
        fromWorker = controller->conditionalUserPropertiesWithNamePrefix(QStringLiteral("tier"), QStringLiteral("app"));
    });
    ASSERT_TRUE(fromWorker);
    EXPECT_EQ(fromWorker->size(), 1);
}

} // namespace engine_audience_test
