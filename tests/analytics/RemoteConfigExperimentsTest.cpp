// The remote configuration as a client of the experiments: registration,
// snapshots that override four switches, fetch errors and permission; and
// the experiment manager's own rules that it relies on.

#include "RemoteConfigTestSupport.h"
#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/config/APMRemoteConfig.h"

#include <gtest/gtest.h>

using namespace rcfg;

namespace {

APMESnapshot snapshot(const QString& sdk, qint64 experimentID, const QVariantMap& flags)
{
    APMESnapshot s(sdk);
    s.addFlags(flags, experimentID);
    return s;
}

// Hands a fetched snapshot over as the fetch task does, then lets the
// manager's queue and the new-snapshot notice it posts to `time` run.
void deliver(APMEManager& manager, const APMESnapshot& s, fakes::VirtualTime& time)
{
    manager.taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({ s }, {});
    manager.dispatchSyncOnSerialQueue([] {});
    time.runPending();
}

// Settings that say the opposite of what the experiments below say.
ConfigBuilder& switches(ConfigBuilder& b)
{
    return b.setting(QStringLiteral("measurement.dma.dcu_event_enabled"), QStringLiteral("1"))
        .setting(QStringLiteral("measurement.regional_defaults_enabled"), QStringLiteral("1"))
        .setting(QStringLiteral("measurement.session_stitching_token_enabled"), QStringLiteral("0"))
        .setting(QStringLiteral("measurement.skan.update_conversion_value_enabled"), QStringLiteral("0"));
}

const QVariantMap kOverrides = {
    { QStringLiteral("dcu_event_feature_enabled"), 0 },
    { QStringLiteral("regional_defaults_enabled"), QStringLiteral("NO") },
    { QStringLiteral("session_stitching_token_feature_enabled"), 1 },
    { QStringLiteral("skan_update_conversion_value_feature_enabled"), QStringLiteral("yes") },
};

TEST(RemoteConfigExperiments, RegistersAsAppMetrics)
{
    Harness h;
    auto manager = std::make_shared<APMEManager>(h.time, &h.time);
    const auto config = h.make(manager);
    ASSERT_TRUE(config);
    const auto client = manager->clientForSDKName(QStringLiteral("app_metrics"));
    ASSERT_TRUE(client);
    EXPECT_EQ(client, config->experimentClient());
    EXPECT_EQ(client->SDKProperty()->version(), 102700);
    EXPECT_TRUE(client->defaultFlags().isEmpty());
    EXPECT_EQ(client->delegate().get(), static_cast<APMEExperimentObserverDelegate*>(config.get()));
    EXPECT_EQ(
        client->SDKProperty()->delegate().get(), static_cast<APMESDKPropertyProviderDelegate*>(config.get()));
}

TEST(RemoteConfigExperiments, ANewSnapshotOverridesTheFourSwitchesOnceActivated)
{
    Harness h;
    auto manager = std::make_shared<APMEManager>(h.time, &h.time);
    ConfigBuilder builder;
    switches(builder);
    h.store(builder);
    const auto config = h.make(manager);
    ASSERT_TRUE(config);
    EXPECT_FALSE(config->activateNewSnapshot()); // nothing reported yet

    deliver(*manager, snapshot(QStringLiteral("app_metrics"), 5, kOverrides), h.time);
    // Waiting, not yet active.
    EXPECT_TRUE(config->dcuEventFeatureEnabled());
    EXPECT_TRUE(config->regionalDefaultsEnabled());
    EXPECT_FALSE(config->sessionStitchingTokenFeatureEnabled());
    EXPECT_FALSE(config->SKANUpdateConversionValueEnabled());

    EXPECT_TRUE(config->activateNewSnapshot());
    EXPECT_FALSE(config->dcuEventFeatureEnabled());
    EXPECT_FALSE(config->regionalDefaultsEnabled());
    EXPECT_TRUE(config->sessionStitchingTokenFeatureEnabled());
    EXPECT_TRUE(config->SKANUpdateConversionValueEnabled());
    EXPECT_EQ(config->experimentIDs(), QList<qint64> { 5 });
    EXPECT_FALSE(config->activateNewSnapshot()); // already done

    // A reset drops the experiments: the settings answer again.
    config->reset();
    EXPECT_TRUE(config->experimentIDs().isEmpty());
    EXPECT_TRUE(config->dcuEventFeatureEnabled());
    EXPECT_FALSE(config->sessionStitchingTokenFeatureEnabled());
}

TEST(RemoteConfigExperiments, ASnapshotWaitingAtCreationIsActivatedThen)
{
    Harness h;
    auto manager = std::make_shared<APMEManager>(h.time, &h.time);
    deliver(*manager, snapshot(QStringLiteral("app_metrics"), 8, kOverrides), h.time); // nobody registered yet
    const auto config = h.make(manager);
    ASSERT_TRUE(config);
    EXPECT_FALSE(config->dcuEventFeatureEnabled());
    EXPECT_EQ(config->experimentIDs(), QList<qint64> { 8 });
}

// How a flag's value answers a switch.
TEST(RemoteConfigExperiments, FlagValuesAsSwitches)
{
    struct Row {
        QVariant value;
        bool on;
    };
    const Row rows[] = {
        { 1, true },
        { 0, false },
        { 2.5, true },
        { 0.0, false },
        { true, true },
        { QStringLiteral("1"), true },
        { QStringLiteral("0"), false },
        { QStringLiteral("yes"), true },
        { QStringLiteral("No"), false },
        { QStringLiteral("true"), true },
        { QStringLiteral("false"), false },
        { QStringLiteral("  +007"), true },
        { QStringLiteral("-1"), true },
        { QStringLiteral("0x1"), false },
        { QStringLiteral(""), false },
    };
    for (const Row& row : rows) {
        Harness h;
        auto manager = std::make_shared<APMEManager>(h.time, &h.time);
        const auto config = h.make(manager);
        ASSERT_TRUE(config);
        deliver(*manager,
            snapshot(QStringLiteral("app_metrics"), 1,
                { { QStringLiteral("dcu_event_feature_enabled"), row.value },
                    { QStringLiteral("session_stitching_token_feature_enabled"), row.value } }), h.time);
        ASSERT_TRUE(config->activateNewSnapshot());
        EXPECT_EQ(config->dcuEventFeatureEnabled(), row.on) << row.value.toString().toStdString();
        EXPECT_EQ(config->sessionStitchingTokenFeatureEnabled(), row.on)
            << row.value.toString().toStdString();
    }
}

TEST(RemoteConfigExperiments, FailedActivationIsReportedAndKeepsTheSettings)
{
    Harness h;
    auto manager = std::make_shared<APMEManager>(h.time, &h.time);
    const auto config = h.make(manager);
    ASSERT_TRUE(config);
    deliver(*manager, snapshot(QStringLiteral("app_metrics"), 5, kOverrides), h.time);
    manager->reset(); // the pending snapshot is gone
    EXPECT_FALSE(config->activateNewSnapshot());
    EXPECT_TRUE(h.logged(2, 29024));
    EXPECT_TRUE(config->dcuEventFeatureEnabled());
}

TEST(RemoteConfigExperiments, FetchErrorsAndFetchPermission)
{
    Harness h;
    auto manager = std::make_shared<APMEManager>(h.time, &h.time);
    const auto config = h.make(manager);
    ASSERT_TRUE(config);
    manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({},
        { { QStringLiteral("app_metrics"),
            APMError::apm_errorWithCode(5, QStringLiteral("timed out")) } });
    manager->dispatchSyncOnSerialQueue([] {}); // observers hear of errors on the manager's queue
    ASSERT_TRUE(h.logged(2, 29025));
    EXPECT_EQ(h.lines.back().contexts.value(0).value<APMError>().code(), 5);

    // Fetching waits for an enabled engine.
    EXPECT_FALSE(manager->taskManagerShouldFetchExperiments());
    h.measurementEnabled = true;
    EXPECT_TRUE(manager->taskManagerShouldFetchExperiments());
}

// ---- The experiment manager ---------------------------------------------------

TEST(ExperimentManager, FlagsComeFromActivatedThenLaunchedThenDefaults)
{
    fakes::VirtualTime time;
    auto manager = std::make_shared<APMEManager>(time, &time);
    const auto client = manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("sdk")),
        { { QStringLiteral("a"), QStringLiteral("default-a") }, { QStringLiteral("b"), 2 },
            { QStringLiteral("c"), 3.5 } });
    ASSERT_TRUE(client);
    APMESnapshot s(QStringLiteral("sdk"));
    s.addFlags({ { QStringLiteral("a"), QStringLiteral("experiment-a") } }, 40);
    s.addFlags({ { QStringLiteral("b"), 20 } }, 0); // a launched experiment
    deliver(*manager, s, time);
    EXPECT_EQ(client->valueForFlag(QStringLiteral("a")), QVariant(QStringLiteral("default-a")));
    APMError error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(client->valueForFlag(QStringLiteral("a")), QVariant(QStringLiteral("experiment-a")));
    EXPECT_EQ(client->valueForFlag(QStringLiteral("b")), QVariant(20));
    EXPECT_EQ(client->valueForFlag(QStringLiteral("c")), QVariant(3.5));
    EXPECT_FALSE(client->valueForFlag(QStringLiteral("d")).isValid());
    EXPECT_FALSE(client->valueForFlag(QString()).isValid());
    EXPECT_FALSE(client->objectForKeyedSubscript(QVariant(7)).isValid());
    EXPECT_EQ(manager->experimentIDs(), QList<qint64> { 40 }); // launched experiments are not reported
    EXPECT_FALSE(client->activateLatestSnapshot(&error)); // nothing pending any more
}

TEST(ExperimentManager, RegistrationRules)
{
    fakes::VirtualTime time;
    auto manager = std::make_shared<APMEManager>(time, &time);
    EXPECT_FALSE(manager->registerSDKProperty(nullptr, {}));
    EXPECT_FALSE(manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QString()), {}));
    EXPECT_FALSE(manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("x")),
        { { QStringLiteral("list"), QVariantList { 1 } } }));
    EXPECT_FALSE(manager->clientForSDKName(QStringLiteral("x")));

    const auto first = manager->registerSDKProperty(
        std::make_shared<APMESDKProperty>(QStringLiteral("x")), { { QStringLiteral("f"), 1 } });
    const auto second = manager->registerSDKProperty(
        std::make_shared<APMESDKProperty>(QStringLiteral("x")), { { QStringLiteral("f"), 2 } });
    ASSERT_TRUE(first && second);
    EXPECT_EQ(manager->clientForSDKName(QStringLiteral("x")), second);
    EXPECT_EQ(first->valueForFlag(QStringLiteral("f")), QVariant(2));

    const auto other
        = manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("y")), {});
    deliver(*manager, snapshot(QStringLiteral("x"), 30, {}), time);
    deliver(*manager, snapshot(QStringLiteral("y"), 7, {}), time);
    APMError error;
    ASSERT_TRUE(second->activateLatestSnapshot(&error));
    ASSERT_TRUE(other->activateLatestSnapshot(&error));
    EXPECT_EQ(manager->experimentIDs(), (QList<qint64> { 7, 30 }));
    EXPECT_FALSE(manager->activateSnapshotOfSDK(QString(), &error));
    EXPECT_EQ(error.code(), 1);
}

} // namespace
