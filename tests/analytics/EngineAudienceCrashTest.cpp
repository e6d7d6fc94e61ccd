// A process killed while a bundle's audience results are held back (its
// events evaluated, the rows not yet written) or just after they were
// written (the bundle not yet stored) loses none of them: after a restart
// the bundle is evaluated again and every uploaded bundle carries the
// results an uninterrupted run gives. The killed process is this test binary
// run again as a child (the disabled test below), on the same database file.
#include "AudienceTestSupport.h"
#include "EngineTestFixture.h"
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/engine/APMAudienceBundleEvaluator.h"

#include <QProcess>

#include <csignal>
#include <functional>

using namespace engine_test;

namespace engine_audience_crash_test {

const char* const kBeforeTheWrite = "before-the-write";
const char* const kAfterTheWrite = "after-the-write";

// The engine's own evaluator over the engine's database, killing the
// process in the second bundle's transaction where the mode says.
class KillingAudience final : public APMAudienceEvaluator {
public:
    KillingAudience(QString mode, std::function<APMDatabase&()> database)
        : mode_(std::move(mode))
        , database_(std::move(database))
    {
    }

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences) override
    {
        return inner().updateAudiences(audiences);
    }
    void beginBundle() override { inner().beginBundle(); }
    bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates) override
    {
        return inner().evaluateFiltersForEvent(event, aggregates);
    }
    bool evaluateFiltersForUserProperty(
        const APMPBUserAttribute& property, std::optional<double> evaluationTime) override
    {
        return inner().evaluateFiltersForUserProperty(property, evaluationTime);
    }
    bool finishBundle() override { return inner().finishBundle(); }
    std::optional<Results> resultsForBundling() override
    {
        if (++bundles_ == 2) {
            if (mode_ == QLatin1String(kAfterTheWrite) && !inner().finishBundle())
                return std::nullopt;
            std::raise(SIGKILL);
        }
        return inner().resultsForBundling();
    }
    void clearEvaluationResultsForSessionScopedFilters() override
    {
        inner().clearEvaluationResultsForSessionScopedFilters();
    }

private:
    // Made at the first call: the engine opens its database after it took
    // this evaluator.
    APMAudienceBundleEvaluator& inner()
    {
        if (!inner_)
            inner_ = std::make_unique<APMAudienceBundleEvaluator>(std::make_unique<APMAudience>(database_()));
        return *inner_;
    }

    QString mode_;
    std::function<APMDatabase&()> database_;
    std::unique_ptr<APMAudienceBundleEvaluator> inner_;
    int bundles_ = 0;
};

// Audience 7: filter 0 is any checkout, filter 1 a checkout of an amount
// above 9. The first bundle holds a checkout of 4, the second one of 50.
std::vector<std::unique_ptr<APMPBAudience>> checkoutAudience()
{
    using namespace audience_test;
    std::vector<std::unique_ptr<APMPBEventFilter>> checkouts;
    checkouts.push_back(eventFilter(0, QStringLiteral("checkout")));
    checkouts.push_back(eventFilter(1, QStringLiteral("checkout"),
        listOf(numberOf(QStringLiteral("amount"), kComparisonGreaterThan, QStringLiteral("9")))));
    return listOf(audience(7, std::move(checkouts)));
}

class EngineAudienceCrashTest : public EngineFixture, public ::testing::WithParamInterface<const char*> {
protected:
    void runChild(const QString& mode)
    {
        QProcess child;
        startCrashChild(child, QStringLiteral("EngineAudienceCrashChild.DISABLED_EvaluateThenDie"), mode);
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    }
};

TEST_P(EngineAudienceCrashTest, KilledInTheSecondBundleThenRestarted)
{
    runChild(QString::fromLatin1(GetParam()));
    EXPECT_EQ(server_.requestCount(), 0);

    start();
    engine_->dispatchSyncOnWorkerQueue([&] { engine_->uploadData(); });
    settle();
    EXPECT_EQ(acceptedEventNames(), (QStringList { QStringLiteral("checkout"), QStringLiteral("checkout") }));
    QList<fakes::FakeCollectionServer::Bundle> bundles;
    for (const auto& batch : server_.batches()) {
        if (batch.accepted())
            bundles.append(batch.bundles);
    }
    ASSERT_EQ(bundles.size(), 2);
    const auto* first = bundles[0].audienceResult(7);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->statusWords, (QList<quint64> { 0b11 }));
    EXPECT_EQ(first->resultWords, (QList<quint64> { 0b01 }));
    EXPECT_TRUE(first->isNew);
    const auto* second = bundles[1].audienceResult(7);
    ASSERT_TRUE(second) << "the killed bundle's evaluation was lost";
    EXPECT_EQ(second->statusWords, (QList<quint64> { 0b11 }));
    EXPECT_EQ(second->resultWords, (QList<quint64> { 0b11 }));
    EXPECT_TRUE(second->hasPrevious);
    EXPECT_FALSE(second->isNew);
}

INSTANTIATE_TEST_SUITE_P(
    KillPoints, EngineAudienceCrashTest, ::testing::Values(kBeforeTheWrite, kAfterTheWrite));

// The child's part; run only by the test above.
class EngineAudienceCrashChild : public EngineFixture { };

TEST_F(EngineAudienceCrashChild, DISABLED_EvaluateThenDie)
{
    const QString mode = crashChildMode();
    ASSERT_FALSE(mode.isEmpty());
    APMMeasurement::Environment e = crashChildEnvironment();
    auto audience
        = std::make_shared<KillingAudience>(mode, [this]() -> APMDatabase& { return *engine_->database(); });
    e.audience = audience;
    start(QString(), true, &e);
    bool stored = false;
    engine_->dispatchSyncOnWorkerQueue([&] { stored = audience->updateAudiences(checkoutAudience()); });
    ASSERT_TRUE(stored);
    logEvent(QStringLiteral("checkout"), { { QStringLiteral("amount"), 4 } });
    ASSERT_TRUE(bundle());
    logEvent(QStringLiteral("checkout"), { { QStringLiteral("amount"), 50 } });
    bundle();
    FAIL() << "bundling should have been killed";
}

} // namespace engine_audience_crash_test
