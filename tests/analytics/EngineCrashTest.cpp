// A process killed in the middle of bundling or of an upload loses nothing
// and sends nothing twice: after a restart every event reaches the collection
// server exactly once. The killed process is this test binary run again as a
// child (the disabled test below), on the same database file.
#include "EngineTestFixture.h"

#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"

#include <QProcess>

#include <csignal>

using namespace engine_test;

namespace {

const QStringList kFirstRunEvents
    = { QStringLiteral("crash_a1"), QStringLiteral("crash_a2"), QStringLiteral("crash_a3") };
const QStringList kSecondRunEvents = { QStringLiteral("crash_b1"), QStringLiteral("crash_b2") };

// Audience evaluation that kills the process while the second bundle is
// being built, inside its transaction.
class KillingAudience final : public APMAudienceEvaluator {
public:
    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>&) override { return true; }
    void beginBundle() override { }
    bool evaluateFiltersForEvent(const APMEvent&, const APMEventAggregates&) override { return true; }
    bool evaluateFiltersForUserProperty(const APMPBUserAttribute&, std::optional<double>) override { return true; }
    std::optional<Results> resultsForBundling() override
    {
        if (++bundles_ == 2)
            std::raise(SIGKILL);
        return Results();
    }
    void clearEvaluationResultsForSessionScopedFilters() override { }

private:
    int bundles_ = 0;
};

class EngineCrashTest : public EngineFixture {
protected:
    // Runs the child; "bundle" kills itself, "upload" waits to be killed
    // once its batch request has reached the server.
    void runChild(const QString& mode)
    {
        QProcess child;
        startCrashChild(child, QStringLiteral("EngineCrashChild.DISABLED_LogThenDie"), mode);
        ASSERT_TRUE(child.waitForStarted());
        if (mode == QLatin1String("upload")) {
            ASSERT_TRUE(server_.waitForRequests(1, 60000));
            child.kill();
        }
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    }

    // The next launch: start-up, then one upload pass.
    void restartAndUpload()
    {
        start();
        engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
        settle();
    }
};

TEST_F(EngineCrashTest, KilledWhileBundlingThenRestarted)
{
    runChild(QStringLiteral("bundle"));
    EXPECT_EQ(server_.requestCount(), 0);
    restartAndUpload();
    EXPECT_EQ(acceptedEventNames(), kFirstRunEvents + kSecondRunEvents);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
}

TEST_F(EngineCrashTest, KilledWhileUploadingThenRestarted)
{
    server_.script({ EngineAnswer::Timeout });
    runChild(QStringLiteral("upload"));
    ASSERT_EQ(server_.requestCount(), 1);
    EXPECT_FALSE(server_.batches()[0].accepted());
    EXPECT_EQ(server_.batches()[0].bundles.size(), 2); // the batch was complete when the process died
    restartAndUpload();
    EXPECT_EQ(acceptedEventNames(), kFirstRunEvents + kSecondRunEvents);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
}

// The child's part; run only by the tests above.
class EngineCrashChild : public EngineFixture { };

TEST_F(EngineCrashChild, DISABLED_LogThenDie)
{
    const QString mode = crashChildMode();
    ASSERT_FALSE(mode.isEmpty());
    APMMeasurement::Environment e = crashChildEnvironment();
    if (mode == QLatin1String("bundle"))
        e.audience = std::make_shared<KillingAudience>();
    start(QString(), true, &e);
    for (const QString& name : kFirstRunEvents)
        logEvent(name);
    // A second metadata fingerprint: a second bundle.
    engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
        QStringLiteral("app"), QStringLiteral("crash_run"), APMValue::initWithInt64(2), time_.now()));
    for (const QString& name : kSecondRunEvents)
        logEvent(name);
    if (mode == QLatin1String("bundle")) {
        engine_->dispatchSyncOnWorkerQueue([&] {
            while (engine_->bundleRawEvents()) {
            }
        });
        FAIL() << "bundling should have been killed";
    }
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
    // Waits for the kill; the server never answers.
    fakes::FakeHttpServer::waitUntil([] { return false; }, 60000);
    FAIL() << "the parent should have killed this process";
}

} // namespace
