// The engine's configuration fetch against the fake configuration service,
// on virtual time with a real database file: what each answer leaves stored
// and live, when a fetch happens around uploads, and the engine's small
// services (purchase duplicates, first-open time, network log lines).
#include "EngineTestFixture.h"
#include "ValidatorLogRecorder.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/engine/APMAudienceEvaluator.h"
#include "analytics/engine/APMConfigFetcher.h"
#include "analytics/engine/APMEngineLifecycle.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/wire/APMPBSetting.h"
#include "fakes/FakeReachability.h"
#include "platform/AppStore.h"
#include "platform/ApplicationStateNotifier.h"
#include "platform/GlobalQueue.h"
#include "platform/NotificationCenter.h"

#include <QMap>

#include <atomic>

using namespace engine_test;

namespace config_fetch_test {

const QString kMaxBundlesKey = QStringLiteral("measurement.upload.max_bundles");
const QByteArray kStoredETag = "\"v1\"";
const QByteArray kStoredLastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
const QByteArray kNewETag = "\"v2\"";
const QByteArray kNewLastModified = "Tue, 02 Jan 2024 00:00:00 GMT";
constexpr qint64 kStoredMaxBundles = 7;
constexpr qint64 kFetchedMaxBundles = 9;

QByteArray encodedConfig(const QString& appID, std::optional<qint64> maxBundles)
{
    rcfg::ConfigBuilder builder(appID);
    if (maxBundles)
        builder.setting(kMaxBundlesKey, QString::number(*maxBundles));
    return builder.build()->protoBuffer().value_or(QByteArray());
}

// Accepts audience definitions until told to refuse them; evaluates nothing.
class FetchTestAudience final : public APMAudienceEvaluator {
public:
    std::atomic<bool> refuse { false };
    std::atomic<int> updates { 0 };

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>&) override
    {
        ++updates;
        return !refuse;
    }
    void beginBundle() override { }
    bool evaluateFiltersForEvent(const APMEvent&, const APMEventAggregates&) override { return true; }
    bool evaluateFiltersForUserProperty(const APMPBUserAttribute&, std::optional<double>) override
    {
        return true;
    }
    std::optional<Results> resultsForBundling() override { return Results(); }
    void clearEvaluationResultsForSessionScopedFilters() override { }
};

class ConfigFetchFixture : public EngineFixture {
protected:
    // Adopts the stored configuration (max bundles 7) with its validators,
    // and a failure and a back-off from before.
    void startWithStoredConfig(APMMeasurement::Environment* custom = nullptr)
    {
        start(kEngineAppID, true, custom);
        bool applied = false;
        engine_->dispatchSyncOnWorkerQueue([&] {
            applied = engine_->configFetcher().applyMeasurementConfigData(encodedConfig(kEngineAppID, kStoredMaxBundles));
        });
        ASSERT_TRUE(applied);
        persisted_->setConfigServerETag(QString::fromUtf8(kStoredETag));
        persisted_->setConfigServerLastModifiedString(QString::fromUtf8(kStoredLastModified));
        storedAt_ = time_.now();
        persisted_->setLastFailedUploadTimestamp(storedAt_ - 100);
        persisted_->setLastBackoffTimestamp(storedAt_ - 200);
    }

    void fetch()
    {
        engine_->dispatchSyncOnWorkerQueue([this] { engine_->fetchRemoteConfig(); });
        settle();
    }

    qint64 liveMaxBundles()
    {
        qint64 value = 0;
        engine_->dispatchSyncOnWorkerQueue(
            [&] { value = engine_->remoteConfigInstance()->uploadMaxBundlesLimit(); });
        return value;
    }

    // The max-bundles value of the configuration in the database; -1 for none.
    qint64 storedMaxBundles()
    {
        qint64 value = -1;
        engine_->dispatchSyncOnWorkerQueue([&] {
            const auto stored = engine_->database()->queryMeasurementConfigWithError(nullptr);
            if (!stored)
                return;
            for (const auto& setting : APMPBGetArrayField<APMPBSetting>(stored.get(), rcfg::slot::settings)) {
                if (APMPBGetStringField(setting.get(), rcfg::slot::settingName) == kMaxBundlesKey)
                    value = APMPBGetStringField(setting.get(), rcfg::slot::settingValue).toLongLong();
            }
        });
        return value;
    }

    double lastFetchTime()
    {
        double value = 0;
        engine_->dispatchSyncOnWorkerQueue(
            [&] { value = engine_->remoteConfigInstance()->lastRemoteConfigUpdateTimestamp(); });
        return value;
    }

    // The raw events waiting in the database, in order, as name -> timestamp.
    QList<std::pair<QString, double>> rawEvents()
    {
        QList<std::pair<QString, double>> events;
        engine_->dispatchSyncOnWorkerQueue([&] {
            APMDatabase& database = *engine_->database();
            const auto rows = database.sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT rowid, * FROM raw_events ORDER BY rowid"), {}, nullptr);
            for (const APMRow& row : rows.value_or(QList<APMRow>())) {
                if (const auto data = database.rawEventDataFromDictionary(row, nullptr))
                    events.append({ data->rawEvent().name(), data->rawEvent().timestamp() });
            }
        });
        return events;
    }

    // The identifiers of the transactions the duplicate filter lets through;
    // {"<no answer>"} when it never answers.
    QStringList keptByDuplicateFilter(const QList<platform::StorePaymentTransaction>& given)
    {
        std::atomic<bool> done { false };
        QStringList kept;
        engine_->filterPurchaseTransactions(given, [&](QList<platform::StorePaymentTransaction> result) {
            for (const auto& t : result)
                kept << t.transactionIdentifier.value_or(QString());
            done = true;
        });
        drain();
        platform::GlobalQueue::waitForDone();
        return done ? kept : QStringList { QStringLiteral("<no answer>") };
    }

    void execute(const QString& sql)
    {
        engine_->dispatchSyncOnWorkerQueue(
            [&] { ASSERT_TRUE(engine_->database()->sqliteStore()->executeSQL(sql, nullptr)); });
    }

    double storedAt_ = 0;
};

// ---- One table of answers ------------------------------------------------------------

enum class Stamp { Cleared, Now, Kept };

struct AnswerCase {
    const char* name;
    fakes::FakeConfigServer::Answer answer;
    QByteArray eTagAfter;
    QByteArray lastModifiedAfter;
    Stamp failed;
    Stamp backoff;
    bool fetchTimeRecorded;
    qint64 maxBundlesAfter; // live and stored
};

std::ostream& operator<<(std::ostream& out, const AnswerCase& c)
{
    return out << c.name;
}

using Answer = fakes::FakeConfigServer::Answer;

const AnswerCase kAnswerCases[] = {
    { "configuration_with_validators",
        Answer::configuration(encodedConfig(kEngineAppID, kFetchedMaxBundles), kNewETag, kNewLastModified),
        kNewETag, kNewLastModified, Stamp::Cleared, Stamp::Cleared, true, kFetchedMaxBundles },
    { "configuration_without_validators",
        Answer::configuration(encodedConfig(kEngineAppID, kFetchedMaxBundles)), "", "", Stamp::Cleared,
        Stamp::Cleared, true, kFetchedMaxBundles },
    { "no_content", Answer::withStatus(204, kNewETag), kNewETag, "", Stamp::Cleared, Stamp::Cleared, true,
        kStoredMaxBundles },
    { "ok_with_empty_body", Answer::configuration({}), "", "", Stamp::Cleared, Stamp::Cleared, true,
        kStoredMaxBundles },
    { "not_modified", Answer::withStatus(304, kStoredETag, kStoredLastModified), kStoredETag,
        kStoredLastModified, Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
    { "not_found", Answer::withStatus(404), "", "", Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
    { "too_many_requests", Answer::withStatus(429, kNewETag), kStoredETag, kStoredLastModified, Stamp::Now,
        Stamp::Now, false, kStoredMaxBundles },
    { "unavailable", Answer::withStatus(503), kStoredETag, kStoredLastModified, Stamp::Now, Stamp::Now, false,
        kStoredMaxBundles },
    { "server_error", Answer::withStatus(500), kStoredETag, kStoredLastModified, Stamp::Now, Stamp::Kept,
        false, kStoredMaxBundles },
    { "dropped_connection", Answer::dropped(), kStoredETag, kStoredLastModified, Stamp::Now, Stamp::Kept,
        false, kStoredMaxBundles },
    // Refused bodies: nothing of them is kept, validators included, so the
    // next fetch gets the whole configuration again.
    { "undecodable_body", Answer::configuration(QByteArray("\x0a\xff\xff\xff\xff\x0f", 6), kNewETag),
        kStoredETag, kStoredLastModified, Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
    { "another_app",
        Answer::configuration(
            encodedConfig(QStringLiteral("1:999:linux:ffff"), kFetchedMaxBundles), kNewETag),
        kStoredETag, kStoredLastModified, Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
    { "no_settings", Answer::configuration(encodedConfig(kEngineAppID, std::nullopt), kNewETag), kStoredETag,
        kStoredLastModified, Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
    { "no_app_id", Answer::configuration(encodedConfig(QString(), kFetchedMaxBundles), kNewETag), kStoredETag,
        kStoredLastModified, Stamp::Cleared, Stamp::Cleared, true, kStoredMaxBundles },
};

class ConfigFetchAnswerTest : public ConfigFetchFixture, public ::testing::WithParamInterface<AnswerCase> { };

TEST_P(ConfigFetchAnswerTest, StoresAndAppliesWhatTheAnswerWarrants)
{
    const AnswerCase& c = GetParam();
    startWithStoredConfig();
    time_.advance(7200); // the stored configuration has expired
    const double fetchedAt = time_.now();
    configServer_.setAnswer(c.answer);
    fetch();

    // The HTTP client sends a GET again, once, on a connection closed under it.
    if (c.answer.drop)
        ASSERT_GE(configServer_.requestCount(), 1);
    else
        ASSERT_EQ(configServer_.requestCount(), 1);
    EXPECT_EQ(configServer_.problems(), QStringList());
    const auto request = configServer_.requests().constLast();
    EXPECT_EQ(request.platform, QStringLiteral("macos"));
    EXPECT_EQ(request.ifNoneMatch, kStoredETag);
    EXPECT_EQ(request.ifModifiedSince, kStoredLastModified);

    EXPECT_EQ(persisted_->configServerETag().toUtf8(), c.eTagAfter);
    EXPECT_EQ(persisted_->configServerLastModifiedString().toUtf8(), c.lastModifiedAfter);
    const auto stamp = [&](Stamp s, double before) {
        return s == Stamp::Cleared ? 0 : s == Stamp::Now ? fetchedAt : before;
    };
    EXPECT_DOUBLE_EQ(persisted_->lastFailedUploadTimestamp(), stamp(c.failed, storedAt_ - 100));
    EXPECT_DOUBLE_EQ(persisted_->lastBackoffTimestamp(), stamp(c.backoff, storedAt_ - 200));
    EXPECT_DOUBLE_EQ(lastFetchTime(), c.fetchTimeRecorded ? fetchedAt : storedAt_);
    EXPECT_EQ(liveMaxBundles(), c.maxBundlesAfter);
    EXPECT_EQ(storedMaxBundles(), c.maxBundlesAfter);
    EXPECT_FALSE(engine_->uploads().isNetworkRequestPending());
    EXPECT_EQ(engine_->suspendedUploadTimestamp(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, ConfigFetchAnswerTest, ::testing::ValuesIn(kAnswerCases),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// ---- Requests, refusals and the upload schedule ----------------------------------------

TEST_F(ConfigFetchFixture, FirstFetchSendsNoConditionalHeaders)
{
    start(kEngineAppID);
    configServer_.setAnswer(Answer::configuration(encodedConfig(kEngineAppID, kFetchedMaxBundles), kNewETag));
    fetch();
    configServer_.setAnswer(Answer::withStatus(304, kNewETag));
    fetch();

    ASSERT_EQ(configServer_.requestCount(), 2);
    EXPECT_EQ(configServer_.problems(), QStringList());
    const auto requests = configServer_.requests();
    EXPECT_FALSE(requests[0].hasIfNoneMatch);
    EXPECT_FALSE(requests[0].hasIfModifiedSince);
    EXPECT_EQ(requests[0].appID, kEngineAppID);
    EXPECT_EQ(requests[1].ifNoneMatch, kNewETag);
    EXPECT_FALSE(requests[1].hasIfModifiedSince);
    EXPECT_EQ(liveMaxBundles(), kFetchedMaxBundles);
}

TEST_F(ConfigFetchFixture, RefusedAudiencesLeaveTheLiveConfigurationAsItWas)
{
    auto audience = std::make_shared<FetchTestAudience>();
    APMMeasurement::Environment e = environment();
    e.audience = audience;
    startWithStoredConfig(&e);
    audience->refuse = true;
    configServer_.setAnswer(Answer::configuration(encodedConfig(kEngineAppID, kFetchedMaxBundles), kNewETag));
    fetch();

    EXPECT_EQ(audience->updates, 2);
    EXPECT_EQ(liveMaxBundles(), kStoredMaxBundles);
    EXPECT_EQ(storedMaxBundles(), kStoredMaxBundles);
    EXPECT_EQ(persisted_->configServerETag().toUtf8(), kStoredETag);
}

TEST_F(ConfigFetchFixture, FetchTimeThatCannotBeRecordedSuspendsUploads)
{
    startWithStoredConfig();
    execute(QStringLiteral(
        "CREATE TRIGGER keep_metadata BEFORE UPDATE ON app_metadata BEGIN SELECT RAISE(ABORT, 'kept'); END"));
    configServer_.setAnswer(Answer::withStatus(304));
    fetch();
    EXPECT_GT(engine_->suspendedUploadTimestamp(), 0);
    logEvent(QStringLiteral("held_event"));
    EXPECT_FALSE(alarmDue().has_value());
}

TEST_F(ConfigFetchFixture, ExpiredConfigurationIsFetchedBeforeRawEventsAreBundled)
{
    start(kEngineAppID);
    configServer_.setAnswer(Answer::withStatus(500));
    logEvent(QStringLiteral("waiting_event"));
    ASSERT_TRUE(alarmDue().has_value());
    advance(*alarmDue() - time_.now());
    // The fetch failed: nothing was bundled or sent.
    EXPECT_EQ(configServer_.requestCount(), 1);
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);

    configServer_.setAnswer(Answer::configuration(encodedConfig(kEngineAppID, kFetchedMaxBundles), kNewETag));
    ASSERT_TRUE(alarmDue().has_value());
    advance(*alarmDue() - time_.now());
    EXPECT_EQ(configServer_.requestCount(), 2);
    EXPECT_EQ(liveMaxBundles(), kFetchedMaxBundles);
    ASSERT_EQ(server_.requestCount(), 1);
    EXPECT_TRUE(acceptedEventNames().contains(QStringLiteral("waiting_event")));
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
}

TEST_F(ConfigFetchFixture, FreshConfigurationIsNotFetched)
{
    start(kEngineAppID);
    rcfg::ConfigBuilder config(kEngineAppID);
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("fresh_event"));
    advance(*alarmDue() - time_.now());
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(configServer_.requestCount(), 0);
}

TEST_F(ConfigFetchFixture, QueuedBundlesGoOutBeforeTheExpiredConfigurationIsFetched)
{
    start(kEngineAppID);
    rcfg::ConfigBuilder config(kEngineAppID);
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("bundled_event"));
    ASSERT_TRUE(bundle());
    time_.advance(7200); // expired, with a bundle waiting
    engine_->dispatchSyncOnWorkerQueue([this] { engine_->uploadData(); });
    settle();
    // The bundle went out; then, the queue empty, the configuration was fetched.
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(configServer_.requestCount(), 1);
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), 0);
}

TEST_F(ConfigFetchFixture, NoConfigurationAddressMeansNoFetch)
{
    APMMeasurement::Environment e = environment();
    e.collectionURL = QUrl();
    e.configURL = QUrl();
    start(kEngineAppID, true, &e);
    engine_->dispatchSyncOnWorkerQueue([this] { engine_->fetchRemoteConfig(); });
    EXPECT_FALSE(engine_->uploads().isNetworkRequestPending());
    EXPECT_EQ(configServer_.requestCount(), 0);
}

TEST_F(ConfigFetchFixture, UploadWaitsForTheNetworkToComeBack)
{
    fakes::FakeReachability reachability;
    reachability.setConnected(false);
    APMMeasurement::Environment e = environment();
    e.reachability = &reachability;
    start(kEngineAppID, true, &e);
    rcfg::ConfigBuilder config(kEngineAppID);
    ASSERT_TRUE(configure(config));
    logEvent(QStringLiteral("offline_event"));
    EXPECT_FALSE(alarmDue().has_value());
    EXPECT_TRUE(reachability.hasChangeHandler());

    reachability.setConnected(true);
    drain();
    ASSERT_TRUE(alarmDue().has_value());
    EXPECT_FALSE(reachability.hasChangeHandler());
    advance(*alarmDue() - time_.now());
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_TRUE(acceptedEventNames().contains(QStringLiteral("offline_event")));
    engine_.reset(); // before the network state it watches
}

// ---- Becoming active ---------------------------------------------------------------------

TEST_F(ConfigFetchFixture, BecomingActiveRefreshesAWeekOldConfigurationWhenInternalEventsAreBlocklisted)
{
    constexpr double kDay = 24 * 3600;
    struct Case {
        const char* name;
        bool blocklistInternal;
        double sinceLastFetch;
        bool fetches;
    };
    const Case cases[] = {
        { "internal events allowed", false, 30 * kDay, false },
        { "fetched six days ago", true, 6 * kDay, false },
        { "fetched a week ago", true, 7 * kDay, true },
        { "fetched a month ago", true, 30 * kDay, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::NotificationCenter center;
        APMMeasurement::Environment e = environment();
        e.notificationCenter = &center;
        start(kEngineAppID, true, &e);
        rcfg::ConfigBuilder config;
        config.setting(QStringLiteral("measurement.upload.blacklist_internal"), c.blocklistInternal ? "1" : "0");
        ASSERT_TRUE(configure(config));
        fetch(); // the server has none: the fetch time is recorded all the same
        const double fetchedAt = lastFetchTime();
        ASSERT_GT(fetchedAt, 0);
        time_.advance(c.sinceLastFetch);
        settle();
        const int before = configServer_.requestCount();
        center.post(platform::ApplicationStateNotifier::kDidBecomeActive);
        drain();
        settle();
        EXPECT_EQ(configServer_.requestCount(), before + (c.fetches ? 1 : 0));
        // Only a fetch moves the fetch time.
        EXPECT_EQ(lastFetchTime() > fetchedAt, c.fetches);
        engine_.reset();
        QFile::remove(databasePath());
    }
}

// ---- Purchase duplicates ----------------------------------------------------------------

platform::StorePaymentTransaction transaction(const QString& id,
    platform::StorePaymentTransaction::State state = platform::StorePaymentTransaction::State::Purchased)
{
    platform::StorePaymentTransaction t;
    t.transactionIdentifier = id;
    t.productIdentifier = QStringLiteral("product.") + id;
    t.state = state;
    return t;
}

TEST_F(ConfigFetchFixture, DuplicatePurchasesAreFilteredOut)
{
    // Fingerprints by transaction identifier; none for "blank".
    const QMap<QString, QString> fingerprints = { { QStringLiteral("a"), QStringLiteral("fa") },
        { QStringLiteral("a-again"), QStringLiteral("fa") }, { QStringLiteral("b"), QStringLiteral("fb") },
        { QStringLiteral("c"), QStringLiteral("fc") }, { QStringLiteral("d"), QStringLiteral("fd") } };
    APMMeasurement::Environment e = environment();
    e.transactionFingerprint = [fingerprints](const platform::StorePaymentTransaction& t) {
        return fingerprints.value(t.transactionIdentifier.value_or(QString()));
    };
    start(kEngineAppID, true, &e);
    using State = platform::StorePaymentTransaction::State;
    const struct {
        QList<platform::StorePaymentTransaction> given;
        QStringList kept;
    } calls[] = {
        { { transaction("a"), transaction("a-again"), transaction("b", State::Restored), transaction("blank"),
              transaction("c"), transaction("blank"), transaction("d", State::Failed) },
            { "a", "blank", "c", "blank" } },
        // Earlier calls are remembered; a restored one never counted.
        { { transaction("c"), transaction("b"), transaction("a") }, { "b" } },
        { {}, {} },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(keptByDuplicateFilter(call.given), call.kept);
    }
}

TEST_F(ConfigFetchFixture, WithoutAnInjectedFingerprintThePurchaseReportersIsUsed)
{
    start(kEngineAppID, true);
    platform::StorePaymentTransaction missing = transaction(QString());
    missing.transactionIdentifier = std::nullopt; // no identifier at all
    const struct {
        const char* name;
        QList<platform::StorePaymentTransaction> given;
        QStringList kept;
    } calls[] = {
        { "first sight", { transaction("t-1"), transaction("t-2"), transaction("t-1") }, { "t-1", "t-2" } },
        { "seen before", { transaction("t-2"), transaction("t-3") }, { "t-3" } },
        // Identifiers the reporter cannot fingerprint are never checked.
        { "unfingerprintable", { missing, transaction(""), transaction("0-00-0"), transaction("0-00-0") },
            { "", "", "0-00-0", "0-00-0" } },
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        EXPECT_EQ(keptByDuplicateFilter(call.given), call.kept);
    }
    // What is remembered is the identifier's digest, not the identifier.
    QStringList stored;
    engine_->dispatchSyncOnWorkerQueue([&] {
        const auto rows = engine_->database()->sqliteStore()->recordsForQuery(
            QStringLiteral("SELECT * FROM %1").arg(APMDatabase::kPurchaseTransactionsTable), {}, nullptr);
        for (const APMRow& row : rows.value_or(QList<APMRow>()))
            for (const QVariant& value : row)
                stored << value.toString();
    });
    for (const char* id : { "t-1", "t-2", "t-3" })
        EXPECT_TRUE(stored.contains(apm_MD5String(QString::fromLatin1(id)))) << id;
    EXPECT_FALSE(stored.contains(QStringLiteral("t-1")));
}

// ---- First open time ---------------------------------------------------------------------

TEST_F(ConfigFetchFixture, FirstOpenTimestampFromTheUserProperties)
{
    const struct {
        const char* name;
        QList<std::pair<QString, double>> properties;
        double expected;
    } cases[] = {
        { "none", {}, 0 },
        { "first open time", { { "early", 50 }, { "_fot", 100 }, { "late", 200 } }, 100 },
        { "earliest without it", { { "late", 70 }, { "early", 50 } }, 50 },
    };
    start(kEngineAppID);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        double result = -1;
        engine_->dispatchSyncOnWorkerQueue([&] {
            ASSERT_TRUE(engine_->database()->sqliteStore()->executeSQL(
                QStringLiteral("DELETE FROM %1").arg(APMDatabase::kUserAttributesTable), nullptr));
            for (const auto& [name, time] : c.properties) {
                const auto property = APMUserAttribute::initWithOrigin(
                    QStringLiteral("auto"), name, APMValue::initWithInt64(1), time);
                ASSERT_TRUE(property.has_value());
                ASSERT_TRUE(engine_->database()->updateUserAttribute(*property, nullptr));
            }
            result = engine_->firstOpenTimestamp();
        });
        EXPECT_DOUBLE_EQ(result, c.expected);
    }
}

// ---- Data reset ------------------------------------------------------------------------

TEST_F(ConfigFetchFixture, DataResetWipesUnlessTheNewIDIsMissing)
{
    const struct {
        const char* name;
        QString appInstanceID;
        bool analyticsDenied;
        bool enabled;
        bool reset;
    } cases[] = {
        { "new id", QStringLiteral("0123456789abcdef0123456789abcdef"), false, true, true },
        { "empty id", QString(), false, true, false },
        { "empty id with analytics storage denied", QString(), true, true, true },
        { "new id while collection is off", QStringLiteral("0123456789abcdef0123456789abcdef"), false, false, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        APMConsentSettingsUtil::clearAllSettings();
        persisted_->setAppInstanceID(QStringLiteral("previous-id"));
        const double loadTime = time_.now() - 30;
        APMMeasurement::Environment e = environment();
        e.loadTimestamp = [loadTime] { return loadTime; };
        startWithStoredConfig(&e);
        logEvent(QStringLiteral("before_reset"));
        ASSERT_EQ(rowCount(APMDatabase::kRawEventsTable), 1);
        if (!c.enabled) {
            engine_->setEnabled(false);
            drain();
        }
        if (c.analyticsDenied)
            APMConsentSettingsUtil::setConsentSettings(QVariantMap {
                { APMConsentSettingsUtil::kAnalyticsStorage, APMConsentSettingsUtil::kDenied } });

        EXPECT_EQ(engine_->resetAnalyticsDataWithAppInstanceID(c.appInstanceID), c.reset);
        drain();
        const auto events = rawEvents();
        QStringList names;
        for (const auto& [name, timestamp] : events)
            names.append(name);
        EXPECT_EQ(names.contains(QStringLiteral("before_reset")), !c.reset) << names.join(u' ').toStdString();
        EXPECT_EQ(storedMaxBundles(), c.reset ? -1 : kStoredMaxBundles);
        EXPECT_EQ(persisted_->appInstanceID(), c.reset ? c.appInstanceID : QStringLiteral("previous-id"));
        // A reset of a collecting engine is a new first open, at the time the
        // front end was loaded, with the session it starts.
        const bool reportsFirstOpen = c.reset && c.enabled;
        EXPECT_EQ(names.contains(QStringLiteral("_f")), reportsFirstOpen) << names.join(u' ').toStdString();
        EXPECT_EQ(names.contains(QStringLiteral("_s")), reportsFirstOpen) << names.join(u' ').toStdString();
        for (const auto& [name, timestamp] : events) {
            if (name == QStringLiteral("_f") || name == QStringLiteral("_s")) {
                EXPECT_DOUBLE_EQ(timestamp, loadTime) << name.toStdString();
            }
        }
        if (c.reset) {
            // The first open consumes the load time it was reported at.
            EXPECT_EQ(persisted_->loadTimestampValue().isValid(), !reportsFirstOpen);
            if (!reportsFirstOpen) {
                EXPECT_DOUBLE_EQ(persisted_->loadTimestampValue().toDouble(), loadTime);
            }
            // The validators went with the configuration they named.
            EXPECT_TRUE(persisted_->configServerETag().isEmpty());
        }
        engine_.reset();
        QFile::remove(databasePath());
    }
}

// ---- Configuration library, network log lines --------------------------------------------

TEST_F(ConfigFetchFixture, FeatureRolloutsAreKeptOnlyWithTheConfigurationLibrary)
{
    persisted_->setBasaltFeatureRollouts(QStringLiteral("rollout"));
    start(kEngineAppID);
    EXPECT_FALSE(APMEngineLifecycle::isBasaltRemoteConfigSDKPresent());
    EXPECT_TRUE(persisted_->basaltFeatureRollouts().isEmpty());

    APMClassRegistry::registerClassName(QStringLiteral("BASRemoteConfig"));
    persisted_->setBasaltFeatureRollouts(QStringLiteral("rollout"));
    start(kEngineAppID);
    EXPECT_TRUE(APMEngineLifecycle::isBasaltRemoteConfigSDKPresent());
    EXPECT_EQ(persisted_->basaltFeatureRollouts(), QStringLiteral("rollout"));
    APMClassRegistry::unregisterClassName(QStringLiteral("BASRemoteConfig"));
}

TEST_F(ConfigFetchFixture, NetworkLogLevelsBecomeMonitorLevels)
{
    start(kEngineAppID);
    ValidatorLogRecorder recorder;
    // The network library's level and the monitor level its line is written at.
    const std::pair<qint64, qint64> levels[]
        = { { 3, 1 }, { 4, 4 }, { 5, 3 }, { 6, 6 }, { 7, 7 }, { 0, 3 }, { 9, 3 } };
    for (const auto& [network, monitorLevel] : levels) {
        SCOPED_TRACE(network);
        recorder.clear();
        APMMeasurement::monitor().logWithLevel(monitorLevel, 99001, QStringLiteral("reference"));
        const auto reference = recorder.lines();
        recorder.clear();
        engine_->VULNetwork_logWithLevelMessageCodeMessageContext(
            network, 99001, QStringLiteral("network line"), QStringLiteral("context"));
        const auto lines = recorder.lines();
        ASSERT_EQ(lines.size(), reference.size());
        if (lines.empty())
            continue;
        EXPECT_EQ(lines[0].utilitiesLevel, reference[0].utilitiesLevel);
        EXPECT_EQ(lines[0].code, 99001);
        EXPECT_TRUE(lines[0].message.contains(QStringLiteral("network line")));
        EXPECT_TRUE(lines[0].message.contains(QStringLiteral("context")));
    }
}

} // namespace config_fetch_test
