// The engine's search-ad reporter: made at start after the other components,
// its campaign event going the way of every internal event, switched with
// collection.
#include "EngineTestFixture.h"

#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "fakes/CountingHttpClient.h"
#include "fakes/FakeAttributionTokenSource.h"
#include "fakes/FakeSearchAdsServer.h"

namespace {

class SearchAdEngineTest : public engine_test::EngineFixture {
protected:
    SearchAdEngineTest()
    {
        tokens_.setAvailable(true);
        tokens_.script({ fakes::FakeAttributionTokenSource::token(QStringLiteral("engine-token")) });
        searchAds_.expectToken(QStringLiteral("engine-token"));
    }
    // The engine goes before the client it sends through.
    ~SearchAdEngineTest() override { engine_.reset(); }

    APMMeasurement& startWithSearchAds(bool enabled = true)
    {
        APMMeasurement::Environment e = environment();
        e.attributionTokenSource = &tokens_;
        e.http = &http_;
        e.searchAdsURL = searchAds_.url();
        return start(QString(), enabled, &e);
    }

    std::optional<double> reporterDue()
    {
        std::optional<double> due;
        engine_->dispatchSyncOnWorkerQueue([&] {
            if (engine_->lifecycle().searchAdReporter())
                due = engine_->lifecycle().searchAdReporter()->scheduledTimestamp();
        });
        return due;
    }

    // Counted as the reporter sends, on the worker queue: the search-ad
    // request leaves no network request pending, so after advance() one sent
    // by mistake may not have reached the server yet.
    int searchAdRequestsSent() const { return http_.sentTo(searchAds_.url()); }

    fakes::CountingHttpClient http_;
    fakes::FakeAttributionTokenSource tokens_;
    fakes::FakeSearchAdsServer searchAds_;
};

TEST_F(SearchAdEngineTest, AttributedInstallIsLoggedAndUploadedOnce)
{
    persisted_->setFirstOpenTimestampMilliseconds(1'699'999'000'000);
    searchAds_.script({ fakes::FakeSearchAdsServer::attributed(QStringLiteral("77"), QStringLiteral("88")) });
    startWithSearchAds();
    ASSERT_NE(engine_->lifecycle().searchAdReporter(), nullptr);
    EXPECT_TRUE(engine_->lifecycle().searchAdReporter()->isSearchAdReporterEnabled());

    advance(0); // a first run asks at once
    ASSERT_TRUE(searchAds_.waitForRequests(1));
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] {
        drain();
        return persisted_->searchAdCampaignValue().isValid();
    }));
    EXPECT_TRUE(searchAds_.requests().first().problems.isEmpty());
    EXPECT_EQ(persisted_->searchAdCampaignValue(), QVariant(true));

    advance(15); // the upload's initial delay
    const auto events = server_.acceptedEvents();
    const auto campaign = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.name == QStringLiteral("_cmp"); });
    ASSERT_NE(campaign, events.end());
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("source")), QVariant(QStringLiteral("Apple")));
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("medium")), QVariant(QStringLiteral("search")));
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("campaign")), QVariant(QStringLiteral("77")));
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("term")), QVariant(QStringLiteral("88")));
    EXPECT_EQ(campaign->parameters.value(QStringLiteral("click_timestamp")), QVariant(qint64(1'699'998'999'999)));

    // The answer is stored: the next start makes no reporter.
    startWithSearchAds();
    EXPECT_EQ(engine_->lifecycle().searchAdReporter(), nullptr);
    EXPECT_EQ(searchAds_.requestCount(), 1);
}

TEST_F(SearchAdEngineTest, CollectionSwitchesTheReporter)
{
    searchAds_.script({ fakes::FakeSearchAdsServer::serverError(), fakes::FakeSearchAdsServer::notAttributed() });
    startWithSearchAds();
    advance(0);
    ASSERT_TRUE(searchAds_.waitForRequests(1));
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] {
        drain();
        return reporterDue().has_value();
    }));

    engine_->setEnabled(false);
    drain();
    EXPECT_FALSE(engine_->lifecycle().searchAdReporter()->isSearchAdReporterEnabled());
    EXPECT_FALSE(reporterDue().has_value());
    advance(3 * 86400);
    EXPECT_EQ(searchAdRequestsSent(), 1);
    EXPECT_EQ(searchAds_.requestCount(), 1);

    engine_->setEnabled(true);
    drain();
    EXPECT_TRUE(reporterDue().has_value());
    advance(0);
    ASSERT_TRUE(searchAds_.waitForRequests(2));
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] {
        drain();
        return persisted_->searchAdCampaignValue().isValid();
    }));
    EXPECT_EQ(persisted_->searchAdCampaignValue(), QVariant(false));
}

TEST_F(SearchAdEngineTest, NoReporterWorkWithoutTheSystemsTokens)
{
    tokens_.setAvailable(false);
    startWithSearchAds();
    ASSERT_NE(engine_->lifecycle().searchAdReporter(), nullptr);
    EXPECT_FALSE(reporterDue().has_value());
    advance(2 * 86400);
    EXPECT_EQ(searchAdRequestsSent(), 0);
    EXPECT_EQ(searchAds_.requestCount(), 0);
    EXPECT_EQ(persisted_->searchAdRetryCount(), 0);
}

} // namespace
