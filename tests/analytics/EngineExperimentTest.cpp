// Experiments in the engine: the engine starts the experiment fetch task on
// its schedule against the configured experiment service, and the remote
// configuration reads the flags of the fetched experiments.
#include "EngineTestFixture.h"

#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/experiments/APMEManager.h"
#include "fakes/FakeExperimentServer.h"

using namespace engine_test;

namespace engine_experiment_test {

class EngineExperimentTest : public EngineFixture {
protected:
    APMMeasurement& startWithExperiments()
    {
        APMMeasurement::Environment e = environment();
        e.experimentsURL = experiments_.address();
        e.experimentStore = experimentTimes_.get();
        return start(QString(), true, &e);
    }

    // Lets the due fetch go out and its reply be handled on virtual time.
    ::testing::AssertionResult fetchAfter(double seconds)
    {
        const int before = experiments_.requestCount();
        drain(); // the engine's start posted the task's own start
        engine_->lifecycle().experimentManager()->dispatchSyncOnSerialQueue([] {}); // registrations are in
        time_.advance(seconds);
        if (!experiments_.waitForRequests(before + 1))
            return ::testing::AssertionFailure() << "no experiment request";
        if (!fakes::FakeHttpServer::waitUntil([&] { return time_.pendingCount() > 0; }))
            return ::testing::AssertionFailure() << "the reply was not handed to the fetch task";
        // The reply's consequences go back and forth between the worker queue
        // and the experiment manager's own queue: pending snapshots, their
        // marks stored, the configuration told.
        for (int round = 0; round < 3; ++round) {
            time_.runPending();
            engine_->lifecycle().experimentManager()->dispatchSyncOnSerialQueue([] {});
        }
        time_.runPending();
        return ::testing::AssertionSuccess();
    }

    fakes::FakeExperimentServer experiments_;
    std::unique_ptr<APMConfigStore> experimentTimes_ = APMPersistentDictionary::inMemory();
};

TEST_F(EngineExperimentTest, AFetchedExperimentSetsAFlagOfTheRemoteConfiguration)
{
    experiments_.replyWithSnapshots({ { QStringLiteral("app_metrics"),
        { { 5, { { QStringLiteral("session_stitching_token_feature_enabled"), 1 } } } } } });
    startWithExperiments();
    rcfg::ConfigBuilder builder;
    builder.setting(QStringLiteral("measurement.session_stitching_token_enabled"), QStringLiteral("0"));
    ASSERT_TRUE(configure(builder));
    ASSERT_TRUE(engine_->lifecycle().experimentManager());
    EXPECT_FALSE(engine_->remoteConfigInstance()->sessionStitchingTokenFeatureEnabled());

    ASSERT_TRUE(fetchAfter(10)); // the first fetch of a process, 10 s after the start
    EXPECT_TRUE(experiments_.problems().isEmpty()) << experiments_.problems().join("; ").toStdString();
    const auto requests = experiments_.requests();
    ASSERT_EQ(requests.size(), 1);
    ASSERT_EQ(requests[0].clients.size(), 1);
    EXPECT_EQ(requests[0].clients[0].sdkName, QStringLiteral("app_metrics"));

    // Fetched, waiting: the configuration activates it once the engine has
    // nothing left to upload.
    EXPECT_FALSE(engine_->remoteConfigInstance()->sessionStitchingTokenFeatureEnabled());
    logEvent(QStringLiteral("tick"));
    advance(15); // measurement.upload.initial_upload_delay_time
    ASSERT_EQ(server_.acceptedEvents().size(), 1);
    // Activated: the flag wins over the setting.
    EXPECT_TRUE(engine_->remoteConfigInstance()->sessionStitchingTokenFeatureEnabled());
    EXPECT_EQ(engine_->remoteConfigInstance()->experimentIDs(), (QList<qint64> { 5 }));
}

TEST_F(EngineExperimentTest, WithoutAnExperimentServiceNothingIsFetched)
{
    start();
    ASSERT_TRUE(engine_->lifecycle().experimentManager());
    drain();
    time_.advance(4 * 3600);
    EXPECT_EQ(experiments_.requestCount(), 0);
    EXPECT_TRUE(engine_->remoteConfigInstance()->experimentIDs().isEmpty());
}

} // namespace engine_experiment_test
