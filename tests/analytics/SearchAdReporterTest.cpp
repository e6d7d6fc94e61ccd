// The search-ad attribution reporter on virtual time, with a scripted
// attribution-token service and the attribution server on 127.0.0.1.
#include "ValidatorLogRecorder.h"

#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "fakes/CountingHttpClient.h"
#include "fakes/FakeAttributionTokenSource.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeSearchAdsServer.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using fakes::FakeAttributionTokenSource;
using fakes::FakeSearchAdsServer;

const QString kSearchAdToken = QStringLiteral("token-ab12+/=");
constexpr double kSearchAdDay = 86400;

struct SearchAdLoggedEvent {
    QString origin;
    QString name;
    QVariantMap parameters;
    double timestamp = 0;
};

class SearchAdReporterTest : public ::testing::Test {
protected:
    SearchAdReporterTest() { persisted_ = newPersistedConfig(); }
    ~SearchAdReporterTest() override { destroyReporter(); }

    std::unique_ptr<APMPersistedConfig> newPersistedConfig()
    {
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::inMemory();
        e.sharedUserDefaults = sharedDefaults_.get();
        e.queue = &flushQueue_;
        return APMPersistedConfig::initWithSuiteName(QStringLiteral("search-ad-test"), std::move(e));
    }

    APMSearchAdReporter::Environment environment()
    {
        APMSearchAdReporter::Environment e;
        e.clock = &time_;
        e.timer = &time_;
        e.http = &http_;
        e.tokenSource = &tokens_;
        e.serviceURL = server_.url();
        e.logEvent = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp) {
            events_.append({ origin, name, parameters, timestamp });
        };
        return e;
    }

    // A launch: a reporter over the stored state, enabled and started as the
    // engine does; null when the stored state says there is nothing to ask.
    APMSearchAdReporter* launch(std::optional<APMSearchAdReporter::Environment> custom = std::nullopt)
    {
        destroyReporter();
        queue_.sync([&] {
            reporter_ = APMSearchAdReporter::initWithWorkerQueue(&queue_, persisted_.get(), custom ? *custom : environment());
            if (reporter_) {
                reporter_->setSearchAdReporterEnabled(true);
                reporter_->start();
            }
        });
        return reporter_.get();
    }

    void destroyReporter()
    {
        queue_.sync([&] { reporter_.reset(); });
    }

    // Virtual time passes; an attempt that falls due is made and, when it
    // sent a request, its answer handled.
    void advance(double seconds)
    {
        time_.advance(seconds);
        queue_.sync([] { });
        ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([this] { return http_.replies >= http_.sent; }));
        queue_.sync([] { });
    }

    std::optional<double> due()
    {
        std::optional<double> at;
        queue_.sync([&] { at = reporter_ ? reporter_->scheduledTimestamp() : std::nullopt; });
        return at;
    }

    fakes::VirtualTime time_;
    fakes::VirtualTime flushQueue_;
    std::unique_ptr<APMConfigStore> sharedDefaults_ = APMPersistentDictionary::inMemory();
    std::unique_ptr<APMPersistedConfig> persisted_;
    FakeAttributionTokenSource tokens_;
    FakeSearchAdsServer server_;
    fakes::CountingHttpClient http_;
    QList<SearchAdLoggedEvent> events_;
    platform::SerialQueue queue_ { QStringLiteral("SearchAdReporterTest") };
    std::unique_ptr<APMSearchAdReporter> reporter_;
};

TEST_F(SearchAdReporterTest, WithoutTokenServiceOrAddressNothingIsAsked)
{
    ValidatorLogRecorder recorder;
    // This system has no attribution tokens.
    ASSERT_NE(launch(), nullptr);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelDebug, 32014));
    EXPECT_FALSE(due().has_value());

    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    APMSearchAdReporter::Environment unconfigured = environment();
    unconfigured.serviceURL = QUrl();
    recorder.clear();
    ASSERT_NE(launch(unconfigured), nullptr);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelNotice, 32010));
    EXPECT_FALSE(due().has_value());

    advance(3 * kSearchAdDay);
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_EQ(tokens_.requestCount(), 0);
    EXPECT_EQ(persisted_->searchAdRetryCount(), 0);
}

TEST_F(SearchAdReporterTest, AnswersOfTheServiceDecideWhetherToAskAgain)
{
    struct Case {
        const char* what;
        fakes::FakeHttpServer::Reply reply;
        QVariant stored; // invalid: nothing stored, ask again a day later
        bool logsEvent;
    };
    const QList<Case> cases {
        { "attributed",
            FakeSearchAdsServer::attributed(QStringLiteral("542370539"), QStringLiteral("87675432")), true,
            true },
        { "not attributed", FakeSearchAdsServer::notAttributed(), false, false },
        { "test answer", FakeSearchAdsServer::testData(), QVariant(), false },
        { "empty object", FakeSearchAdsServer::emptyObject(), QVariant(), false },
        { "malformed JSON", FakeSearchAdsServer::malformed(), QVariant(), false },
        { "array instead of object", fakes::FakeHttpServer::Reply::json(QByteArrayLiteral("[true]")),
            QVariant(), false },
        // An error status is no answer, whatever its body claims.
        { "server error with a body", FakeSearchAdsServer::serverError(), QVariant(), false },
        { "unavailable", fakes::FakeHttpServer::Reply::json(QByteArrayLiteral("{}"), 503), QVariant(),
            false },
        // A reply without its verdict must not end the attempts as a "no".
        { "no verdict", fakes::FakeHttpServer::Reply::json(QByteArrayLiteral("{\"campaignId\":7}")),
            QVariant(), false },
        // A verdict given as text reads by the library's one truth-of-a-value rule.
        { "text T",
            fakes::FakeHttpServer::Reply::json(QByteArrayLiteral("{\"attribution\":\"T\",\"campaignId\":7}")),
            true, true },
        { "text 1.0",
            fakes::FakeHttpServer::Reply::json(
                QByteArrayLiteral("{\"attribution\":\"1.0\",\"campaignId\":7}")),
            true, true },
        { "text no",
            fakes::FakeHttpServer::Reply::json(
                QByteArrayLiteral("{\"attribution\":\"no\",\"campaignId\":7}")),
            false, false },
    };
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    server_.expectToken(kSearchAdToken);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        destroyReporter();
        persisted_ = newPersistedConfig();
        persisted_->setFirstOpenTimestampMilliseconds(1'699'990'000'123);
        events_.clear();
        const int before = server_.requestCount();
        server_.script({ c.reply });

        ASSERT_NE(launch(), nullptr);
        advance(0); // a first run asks at once
        ASSERT_EQ(server_.requestCount(), before + 1);
        EXPECT_TRUE(server_.requests().last().problems.isEmpty()) << server_.requests().last().problems.join(", ").toStdString();
        EXPECT_EQ(persisted_->searchAdRetryCount(), 1);
        EXPECT_DOUBLE_EQ(persisted_->lastSearchAdLookUpTimestamp(), time_.now());

        const QVariant stored = persisted_->searchAdCampaignValue();
        EXPECT_EQ(stored.isValid(), c.stored.isValid());
        if (c.stored.isValid()) {
            EXPECT_EQ(stored.toBool(), c.stored.toBool());
        }
        EXPECT_EQ(events_.size(), c.logsEvent ? 1 : 0);
        if (c.stored.isValid()) {
            EXPECT_FALSE(due().has_value()); // finished for good
            EXPECT_EQ(launch(), nullptr);
        } else {
            ASSERT_TRUE(due().has_value());
            EXPECT_DOUBLE_EQ(*due(), time_.now() + kSearchAdDay);
        }
    }
}

TEST_F(SearchAdReporterTest, CampaignEventCarriesTheCampaignAndTheClickTime)
{
    struct Case {
        qint64 firstOpenMs;
        std::optional<qint64> clickTimestamp;
    };
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    server_.expectToken(kSearchAdToken);
    for (const Case& c : { Case { 0, std::nullopt }, Case { 1, std::nullopt }, Case { 2, 1 },
             Case { 1'699'990'000'123, 1'699'990'000'122 } }) {
        SCOPED_TRACE(c.firstOpenMs);
        destroyReporter();
        persisted_ = newPersistedConfig();
        persisted_->setFirstOpenTimestampMilliseconds(c.firstOpenMs);
        events_.clear();
        server_.script({ FakeSearchAdsServer::attributed(QStringLiteral("542370539"), QStringLiteral("87675432")) });
        ASSERT_NE(launch(), nullptr);
        advance(0);
        ASSERT_EQ(events_.size(), 1);
        const SearchAdLoggedEvent& event = events_.first();
        EXPECT_EQ(event.origin, QStringLiteral("auto"));
        EXPECT_EQ(event.name, QStringLiteral("_cmp"));
        EXPECT_DOUBLE_EQ(event.timestamp, time_.now());
        QVariantMap expected { { QStringLiteral("source"), QStringLiteral("Apple") },
            { QStringLiteral("medium"), QStringLiteral("search") },
            { QStringLiteral("campaign"), QStringLiteral("542370539") },
            { QStringLiteral("term"), QStringLiteral("87675432") } };
        if (c.clickTimestamp)
            expected.insert(QStringLiteral("click_timestamp"), *c.clickTimestamp);
        EXPECT_EQ(event.parameters, expected);
    }

    // Empty ids are left out.
    destroyReporter();
    persisted_ = newPersistedConfig();
    events_.clear();
    server_.script({ fakes::FakeHttpServer::Reply::json(QByteArrayLiteral("{\"attribution\":true,\"campaignId\":\"\"}")) });
    ASSERT_NE(launch(), nullptr);
    advance(0);
    ASSERT_EQ(events_.size(), 1);
    EXPECT_EQ(events_.first().parameters,
        (QVariantMap { { QStringLiteral("source"), QStringLiteral("Apple") }, { QStringLiteral("medium"), QStringLiteral("search") } }));
}

TEST_F(SearchAdReporterTest, OnlyTheFirstAnswerIsStoredAndLogged)
{
    persisted_->setFirstOpenTimestampMilliseconds(5000);
    ASSERT_NE(launch(), nullptr);
    queue_.sync([&] {
        reporter_->logCampaignEventWithSearchAdCampaign(true, QStringLiteral("1"), QString());
        reporter_->logCampaignEventWithSearchAdCampaign(false, QStringLiteral("2"), QString());
        reporter_->logCampaignEventWithSearchAdCampaign(true, QStringLiteral("3"), QString());
    });
    EXPECT_EQ(events_.size(), 1);
    EXPECT_EQ(persisted_->searchAdCampaignValue(), QVariant(true));
}

TEST_F(SearchAdReporterTest, TokenFailureCountsAsAnAttemptAndIsRetriedTheNextDay)
{
    ValidatorLogRecorder recorder;
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::failure(QStringLiteral("no token today")),
        FakeAttributionTokenSource::token(kSearchAdToken) });
    server_.expectToken(kSearchAdToken);
    server_.script({ FakeSearchAdsServer::notAttributed() });
    ASSERT_NE(launch(), nullptr);
    advance(0);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 32018));
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_EQ(persisted_->searchAdRetryCount(), 1);

    advance(kSearchAdDay - 1);
    EXPECT_EQ(tokens_.requestCount(), 1);
    advance(1);
    EXPECT_EQ(tokens_.requestCount(), 2);
    ASSERT_EQ(server_.requestCount(), 1);
    EXPECT_TRUE(server_.requests().first().problems.isEmpty());
    EXPECT_EQ(persisted_->searchAdCampaignValue(), QVariant(false));
    EXPECT_EQ(persisted_->searchAdRetryCount(), 2);
}

TEST_F(SearchAdReporterTest, TenFailedAttemptsEndTheReporterAcrossRestarts)
{
    ValidatorLogRecorder recorder;
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    server_.expectToken(kSearchAdToken);
    QList<fakes::FakeHttpServer::Reply> failures;
    for (int i = 0; i < 12; ++i)
        failures.append(FakeSearchAdsServer::serverError());
    server_.script(failures);

    ASSERT_NE(launch(), nullptr);
    advance(0);
    // Half a day later the application restarts: the next attempt still
    // comes a day after the last one, not at once.
    advance(kSearchAdDay / 2);
    ASSERT_NE(launch(), nullptr);
    ASSERT_TRUE(due().has_value());
    EXPECT_DOUBLE_EQ(*due(), persisted_->lastSearchAdLookUpTimestamp() + kSearchAdDay);
    EXPECT_EQ(server_.requestCount(), 1);

    for (int day = 0; day < 12; ++day)
        advance(kSearchAdDay);
    EXPECT_EQ(server_.requestCount(), 10);
    EXPECT_EQ(persisted_->searchAdRetryCount(), 10);
    EXPECT_FALSE(persisted_->searchAdCampaignValue().isValid());
    EXPECT_FALSE(due().has_value());

    // The count survives: a new start makes no reporter at all.
    EXPECT_EQ(launch(), nullptr);
    advance(2 * kSearchAdDay);
    EXPECT_EQ(server_.requestCount(), 10);
}

TEST_F(SearchAdReporterTest, UnreachableServiceIsRetriedTheNextDay)
{
    ValidatorLogRecorder recorder;
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    APMSearchAdReporter::Environment unreachable = environment();
    unreachable.serviceURL = QUrl(QStringLiteral("http://127.0.0.1:1"));
    ASSERT_NE(launch(unreachable), nullptr);
    advance(0);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 32015));
    EXPECT_FALSE(persisted_->searchAdCampaignValue().isValid());
    EXPECT_EQ(persisted_->searchAdRetryCount(), 1);
    ASSERT_TRUE(due().has_value());
    EXPECT_DOUBLE_EQ(*due(), time_.now() + kSearchAdDay);
}

TEST_F(SearchAdReporterTest, DisablingStopsThePendingAttemptAndEnablingResumesIt)
{
    tokens_.setAvailable(true);
    tokens_.script({ FakeAttributionTokenSource::token(kSearchAdToken) });
    server_.expectToken(kSearchAdToken);
    server_.script({ FakeSearchAdsServer::serverError(), FakeSearchAdsServer::attributed(QStringLiteral("9"), QStringLiteral("8")) });
    ASSERT_NE(launch(), nullptr);
    advance(0);
    ASSERT_TRUE(due().has_value());

    queue_.sync([&] { reporter_->setSearchAdReporterEnabled(false); });
    EXPECT_FALSE(due().has_value());
    advance(2 * kSearchAdDay);
    EXPECT_EQ(server_.requestCount(), 1);

    queue_.sync([&] { reporter_->setSearchAdReporterEnabled(true); });
    ASSERT_TRUE(due().has_value());
    advance(0); // more than a day since the last attempt: at once
    EXPECT_EQ(server_.requestCount(), 2);
    EXPECT_EQ(persisted_->searchAdCampaignValue(), QVariant(true));
}

TEST_F(SearchAdReporterTest, CreationRefusesMissingPartsAndFinishedState)
{
    ValidatorLogRecorder recorder;
    queue_.sync([&] {
        EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(nullptr, persisted_.get(), environment()), nullptr);
        EXPECT_EQ(APMSearchAdReporter::initWithWorkerQueue(&queue_, nullptr, environment()), nullptr);
    });
    persisted_->setSearchAdRetryCount(9);
    EXPECT_NE(launch(), nullptr);
    persisted_->setSearchAdRetryCount(10);
    EXPECT_EQ(launch(), nullptr);
    persisted_->setSearchAdRetryCount(0);
    persisted_->setSearchAdCampaignValue(false);
    recorder.clear();
    EXPECT_EQ(launch(), nullptr);
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelDebug, 32002));
}

} // namespace
