#include "analytics/base/APMPlatformIdentitySupport.h"
#include "analytics/identity/APMIdentity.h"

#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <future>
#include <limits>
#include <thread>
#include <vector>

namespace {

using Consent = APMConsentSettingsUtil;

const QString kFirstAdID = QStringLiteral("6D92078A-8246-4BA4-AE5B-76104861E7DC");
const QString kSecondAdID = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
const QString kZeroAdID = QStringLiteral("00000000-0000-0000-0000-000000000000");

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool isAppInstanceID(const QString& id)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9A-F]{32}$"));
    return shape.match(id).hasMatch();
}

struct LogLine {
    qint64 level;
    qint64 code;
    QString message;
};

class IdentityTest : public ::testing::Test {
protected:
    IdentityTest()
    {
        Consent::clearAllSettings();
        config_ = newConfig();
    }
    ~IdentityTest() override { Consent::clearAllSettings(); }

    // A persisted configuration in memory: it outlives the identities made
    // on it, as the stored one outlives launches.
    std::unique_ptr<APMPersistedConfig> newConfig()
    {
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::inMemory();
        e.sharedUserDefaults = &sharedDefaults_;
        // The delayed flush of an in-memory store has nothing to do; it is
        // left on a virtual queue that never runs (and that the config only
        // touches under its own lock).
        e.queue = &flushQueue_;
        return APMPersistedConfig::initWithSuiteName(QStringLiteral("identity-test"), std::move(e));
    }

    APMIdentity::Environment environment()
    {
        APMIdentity::Environment e;
        e.log = [this](qint64 level, qint64 code, const QString& message, const QVariantList&) {
            QMutexLocker lock(&logMutex_);
            logs_.push_back({ level, code, message });
        };
        e.clock = &time_;
        e.identitySupport = &platformSupport_;
        e.adIDCacheTime = [this] { return cacheTime_; };
        e.gateIDFAOnATTMASEnabled = [this] { return gate_; };
        e.serviceInfoDictionary = [this] { return serviceInfo_; };
        e.infoDictionary = info_;
        e.classExists = [this](const QString& name) { return linkedClasses_.contains(name); };
        return e;
    }

    // A launch of the application: a new identity on the stored values.
    std::unique_ptr<APMIdentity> launch()
    {
        auto identity = APMIdentity::initWithPersistedConfig(config_.get(), environment());
        EXPECT_NE(identity, nullptr);
        return identity;
    }

    std::vector<LogLine> logs()
    {
        QMutexLocker lock(&logMutex_);
        return logs_;
    }

    bool logged(qint64 level, qint64 code)
    {
        for (const LogLine& line : logs()) {
            if (line.level == level && line.code == code)
                return true;
        }
        return false;
    }

    QString messageOf(qint64 code)
    {
        for (const LogLine& line : logs()) {
            if (line.code == code)
                return line.message;
        }
        return QString();
    }

    static void setConsent(const QString& analytics, const QString& ad)
    {
        Consent::setConsentSettings(
            QVariantMap { { Consent::kAnalyticsStorage, analytics }, { Consent::kAdStorage, ad } });
    }

    fakes::TempHome home_;
    std::unique_ptr<APMConfigStore> sharedDefaultsStore_ = APMPersistentDictionary::inMemory();
    APMConfigStore& sharedDefaults_ = *sharedDefaultsStore_;
    fakes::VirtualTime time_;
    fakes::VirtualTime flushQueue_;
    fakes::FakeTrackingAuthorization support_;
    APMPlatformIdentitySupport platformSupport_ { support_ };
    double cacheTime_ = 60;
    bool gate_ = false;
    std::optional<QVariantMap> serviceInfo_;
    QVariantMap info_;
    QStringList linkedClasses_;
    std::unique_ptr<APMPersistedConfig> config_;
    QMutex logMutex_;
    std::vector<LogLine> logs_;
};

TEST_F(IdentityTest, AdvertisingIDResetRotatesTheAppInstanceID)
{
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    auto identity = launch();
    const QString first = identity->appInstanceID();
    EXPECT_TRUE(isAppInstanceID(first)) << first.toStdString();
    EXPECT_EQ(identity->hashedResettableDeviceID(), md5(kFirstAdID));
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_EQ(identity->appleConsentStatus(), quint64(APMIdentity::StatusAuthorized));
    EXPECT_FALSE(identity->limitedAdTracking());
    EXPECT_TRUE(identity->hasLimitedAdTracking());
    // A first hash is no reset.
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    // The same identifier at the next launch changes nothing.
    identity = launch();
    EXPECT_EQ(identity->appInstanceID(), first);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    // A reset identifier at a later launch: new ID, new hash, reset flag.
    support_.setResettableDeviceID(kSecondAdID);
    identity = launch();
    const QString second = identity->appInstanceID();
    EXPECT_TRUE(isAppInstanceID(second));
    EXPECT_NE(second, first);
    EXPECT_EQ(config_->appInstanceID(), second);
    EXPECT_EQ(config_->hashedResettableDeviceID(), md5(kSecondAdID));
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
    identity->setShouldSetLastAdvertisingIDResetUserProperty(false);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(IdentityTest, AnAllZeroIdentifierIsNoIdentifier)
{
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    const QString first = launch()->appInstanceID();

    support_.setResettableDeviceID(kZeroAdID);
    auto identity = launch();
    EXPECT_EQ(identity->resettableDeviceID(), QString());
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_EQ(identity->appInstanceID(), first);
    EXPECT_EQ(identity->hashedResettableDeviceID(), md5(kFirstAdID));
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(IdentityTest, ARefreshHoldsForTheCacheTime)
{
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    auto identity = launch();
    const QString first = identity->appInstanceID();

    support_.setResettableDeviceID(kSecondAdID);
    time_.advance(cacheTime_ - 1);
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_EQ(identity->appInstanceID(), first);

    time_.advance(1);
    EXPECT_NE(identity->appInstanceID(), first);
    EXPECT_EQ(identity->resettableDeviceID(), kSecondAdID);

    // Without a stored app instance ID every read refreshes.
    config_->setAppInstanceID(QString());
    support_.setResettableDeviceID(kFirstAdID);
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
}

TEST_F(IdentityTest, CombinedReadsRefreshInTheirOwnTrip)
{
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    auto identity = launch();
    const QString first = identity->appInstanceID();

    // A reset identifier past the cache time: the flag read together with
    // the refresh already sees the reset, with no refresh asked for before.
    support_.setResettableDeviceID(kSecondAdID);
    time_.advance(cacheTime_);
    EXPECT_TRUE(identity->updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(config_->hashedResettableDeviceID(), md5(kSecondAdID));
    identity->setShouldSetLastAdvertisingIDResetUserProperty(false);
    EXPECT_FALSE(identity->updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty());

    // The token and the advertising identifiers: refreshed in the same trip,
    // the token following sessions as the single read does.
    support_.setResettableDeviceID(kFirstAdID);
    time_.advance(cacheTime_);
    const APMIdentity::EventIdentifiers read = identity->eventIdentifiersWithSessionNumber(3, false, false);
    EXPECT_EQ(read.advertising.resettableDeviceID, kFirstAdID);
    EXPECT_EQ(read.advertising.appInstanceID, config_->appInstanceID());
    EXPECT_NE(read.advertising.appInstanceID, first);
    EXPECT_TRUE(isAppInstanceID(read.sessionStitchingToken));
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(3, false, false), read.sessionStitchingToken);
    EXPECT_EQ(identity->eventIdentifiersWithSessionNumber(3, false, false).sessionStitchingToken,
        read.sessionStitchingToken);
    EXPECT_NE(identity->eventIdentifiersWithSessionNumber(5, false, false).sessionStitchingToken,
        read.sessionStitchingToken);

    // Analytics storage denied: neither a token nor an app instance ID.
    setConsent(Consent::kDenied, Consent::kGranted);
    const APMIdentity::EventIdentifiers denied = identity->eventIdentifiersWithSessionNumber(6, false, false);
    EXPECT_TRUE(denied.sessionStitchingToken.isNull());
    EXPECT_TRUE(denied.advertising.appInstanceID.isNull());
    EXPECT_EQ(denied.advertising.resettableDeviceID, kFirstAdID);
}

TEST_F(IdentityTest, TrackingStatusAndTheGate)
{
    constexpr quint64 kNone = platform::TrackingAuthorization::kStatusUnavailable;
    struct Case {
        const char* name;
        bool source; // the system has advertising identifiers
        std::optional<quint64> platformStatus;
        bool gate;
        quint64 status;
        bool identifierTaken;
    };
    const std::vector<Case> cases {
        { "no source", false, std::nullopt, false, APMIdentity::StatusUnavailable, false },
        { "no source, gated", false, std::nullopt, true, APMIdentity::StatusUnavailable, false },
        { "no status", true, std::nullopt, false, APMIdentity::StatusUnknown, true },
        { "not determined", true, 0, false, APMIdentity::StatusNotDetermined, true },
        { "restricted", true, 1, false, APMIdentity::StatusRestricted, true },
        { "denied", true, 2, false, APMIdentity::StatusDenied, true },
        { "authorised", true, 3, false, APMIdentity::StatusAuthorized, true },
        { "unknown value", true, 7, false, APMIdentity::StatusUnknown, true },
        { "unavailable value", true, kNone, false, APMIdentity::StatusUnknown, true },
        { "gated, authorised", true, 3, true, APMIdentity::StatusAuthorized, true },
        { "gated, denied", true, 2, true, APMIdentity::StatusDenied, false },
        { "gated, not determined", true, 0, true, APMIdentity::StatusNotDetermined, false },
        { "gated, no status", true, std::nullopt, true, APMIdentity::StatusUnknown, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config_ = newConfig();
        gate_ = c.gate;
        if (c.source)
            support_.setAvailable(kFirstAdID, c.platformStatus);
        else
            support_.setUnavailable();
        auto identity = launch();
        EXPECT_EQ(identity->appleConsentStatus(), c.status);
        EXPECT_EQ(identity->resettableDeviceID(), c.identifierTaken ? kFirstAdID : QString());
        EXPECT_EQ(config_->hashedResettableDeviceID(), c.identifierTaken ? md5(kFirstAdID) : QString());
        EXPECT_EQ(identity->limitedAdTracking(), !c.source);
        EXPECT_EQ(identity->hasLimitedAdTracking(), c.source);
        EXPECT_TRUE(isAppInstanceID(identity->appInstanceID()));
        // Read together, the same answers.
        const APMIdentity::AdvertisingIdentifiers together = identity->advertisingIdentifiers();
        EXPECT_EQ(together.appleConsentStatus, c.status);
        EXPECT_EQ(together.resettableDeviceID, c.identifierTaken ? kFirstAdID : QString());
        EXPECT_EQ(together.limitedAdTracking, !c.source);
        EXPECT_EQ(together.hasLimitedAdTracking, c.source);
        EXPECT_EQ(together.appInstanceID, identity->appInstanceID());
    }
}

TEST_F(IdentityTest, ThisSystemHasNoAdvertisingIdentifiers)
{
    APMIdentity::Environment e = environment();
    e.identitySupport = &APMPlatformIdentitySupport::sharedInstance();
    auto identity = APMIdentity::initWithPersistedConfig(config_.get(), std::move(e));
    EXPECT_EQ(identity->appleConsentStatus(), quint64(APMIdentity::StatusUnavailable));
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_FALSE(identity->hasLimitedAdTracking());
    EXPECT_EQ(identity->resettableDeviceID(), QString());
    EXPECT_EQ(identity->hashedResettableDeviceID(), QString());
    EXPECT_TRUE(isAppInstanceID(identity->appInstanceID()));
}

TEST_F(IdentityTest, AnalyticsStorageDeniedHandsOutAndCreatesNoAppInstanceID)
{
    setConsent(Consent::kDenied, Consent::kGranted);
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    auto identity = launch();
    EXPECT_EQ(config_->appInstanceID(), QString());
    EXPECT_EQ(identity->appInstanceID(), QString());
    EXPECT_EQ(support_.identifierRequests(), 0); // answered without a refresh
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(config_->appInstanceID(), QString());
    // Ad storage is granted: the hash of a first identifier is kept.
    EXPECT_EQ(identity->hashedResettableDeviceID(), md5(kFirstAdID));
    EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(1, false, false), QString());
    EXPECT_TRUE(identity->advertisingIdentifiers().appInstanceID.isNull());
    EXPECT_EQ(config_->appInstanceID(), QString());

    // Once analytics storage is allowed an ID is made; a first hash is no reset.
    setConsent(Consent::kGranted, Consent::kGranted);
    EXPECT_TRUE(isAppInstanceID(identity->appInstanceID()));
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

TEST_F(IdentityTest, AdStorageDeniedKeepsNoAdvertisingIdentifier)
{
    setConsent(Consent::kGranted, Consent::kDenied);
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    auto identity = launch();
    EXPECT_EQ(identity->hashedResettableDeviceID(), QString());
    EXPECT_EQ(identity->resettableDeviceID(), QString());
    EXPECT_EQ(config_->hashedResettableDeviceID(), QString());
    EXPECT_TRUE(isAppInstanceID(identity->appInstanceID()));
}

TEST_F(IdentityTest, ARotationWaitsUntilItCanBeStoredWhole)
{
    support_.setAvailable(kFirstAdID, platform::TrackingAuthorization::Authorized);
    const QString first = launch()->appInstanceID();

    // The identifier is reset while analytics storage is denied and ad
    // storage granted: neither the new ID nor the new hash may be stored
    // alone.
    setConsent(Consent::kDenied, Consent::kGranted);
    support_.setResettableDeviceID(kSecondAdID);
    auto identity = launch();
    identity->updateIdentifiersAndWait();
    EXPECT_EQ(config_->appInstanceID(), first);
    EXPECT_EQ(config_->hashedResettableDeviceID(), md5(kFirstAdID));
    EXPECT_FALSE(config_->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(identity->resettableDeviceID(), kSecondAdID);

    // Allowed again, within the cache time: the next read stores the
    // rotation as one.
    setConsent(Consent::kGranted, Consent::kGranted);
    const QString second = identity->appInstanceID();
    EXPECT_TRUE(isAppInstanceID(second));
    EXPECT_NE(second, first);
    EXPECT_EQ(config_->hashedResettableDeviceID(), md5(kSecondAdID));
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    // Then the cache holds again.
    support_.setResettableDeviceID(kFirstAdID);
    EXPECT_EQ(identity->appInstanceID(), second);
}

TEST_F(IdentityTest, SessionStitchingTokenFollowsSessions)
{
    auto identity = launch();
    const auto token = [&](qint64 session, bool expired, bool userID = false) {
        return identity->sessionStitchingTokenWithSessionNumber(session, expired, userID);
    };
    struct Step {
        qint64 session;
        bool expired;
        bool sameAsBefore;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases {
        { "same session", { { 4, false, false }, { 4, false, true } } },
        { "next session after a live one", { { 4, false, false }, { 5, false, false } } },
        { "next session after an expired one", { { 4, true, false }, { 5, false, true } } },
        { "same session now expired", { { 4, false, false }, { 4, true, false } } },
        { "skipped session", { { 4, true, false }, { 6, false, false } } },
        { "last possible session",
            { { std::numeric_limits<qint64>::max(), true, false },
                { std::numeric_limits<qint64>::min(), false, false } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        identity->resetSessionStitchingToken();
        QString previous = token(-1, false);
        for (const Step& step : c.steps) {
            const QString current = token(step.session, step.expired);
            EXPECT_TRUE(isAppInstanceID(current));
            EXPECT_EQ(current == previous, step.sameAsBefore) << step.session;
            previous = current;
        }
    }

    // Without a user ID a token lasts a day; with one it does not expire.
    identity->resetSessionStitchingToken();
    const QString day = token(10, false);
    time_.advance(86400 - 1);
    EXPECT_EQ(token(10, false), day);
    time_.advance(1);
    const QString nextDay = token(10, false);
    EXPECT_NE(nextDay, day);

    identity->resetSessionStitchingToken();
    const QString withUser = token(10, false, true);
    time_.advance(3 * 86400);
    EXPECT_EQ(token(10, false, true), withUser);
    EXPECT_EQ(token(10, false, false), withUser); // no expiry was set
}

TEST_F(IdentityTest, DiversionKeyHasFiveCharacters)
{
    auto identity = launch();
    for (const QString& stored : { QString(), QStringLiteral("ABCD"), QStringLiteral("ABCDEF") }) {
        config_->setDiversionKey(stored);
        const QString key = identity->diversionKey();
        EXPECT_EQ(key.size(), 5);
        EXPECT_NE(key, stored.left(5));
        EXPECT_EQ(config_->diversionKey(), key);
        EXPECT_EQ(identity->diversionKey(), key);
    }
    config_->setDiversionKey(QStringLiteral("12345"));
    EXPECT_EQ(identity->diversionKey(), QStringLiteral("12345"));
}

TEST_F(IdentityTest, EphemeralIDLastsUntilReset)
{
    auto identity = launch();
    const QString first = identity->ephemeralAppInstanceID();
    EXPECT_TRUE(isAppInstanceID(first));
    EXPECT_EQ(identity->ephemeralAppInstanceID(), first);
    identity->resetEphemeralAppInstanceID();
    EXPECT_NE(identity->ephemeralAppInstanceID(), first);
}

TEST_F(IdentityTest, ApplicationFactsAndServiceAppIDs)
{
    serviceInfo_ = QVariantMap { { QStringLiteral("VIREO_APP_ID"), QStringLiteral("1:123:desktop:abc") },
        { QStringLiteral("ADNEST_APP_ID"), QStringLiteral("adnest-7") } };
    info_ = { { QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.pravik") },
        { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0 beta") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("2.0b4") },
        { QStringLiteral("VIREO_ANALYTICS_IDFV_COLLECTION_ENABLED"), true } };
    auto identity = launch();
    EXPECT_EQ(identity->appIDFromVMP(), QStringLiteral("1:123:desktop:abc"));
    EXPECT_EQ(identity->appIDFromAdNest(), QStringLiteral("adnest-7"));
    EXPECT_EQ(identity->appID(), QStringLiteral("com.example.pravik"));
    EXPECT_EQ(identity->appVersion(), QStringLiteral("2.0 beta"));
    EXPECT_EQ(identity->appVersionMajor(), 2);
    EXPECT_EQ(identity->appVersionMinor(), 4);
    EXPECT_EQ(identity->appVersionRelease(), std::nullopt);
    EXPECT_EQ(identity->isIDFVCollectionEnabledNumber(), QVariant(true));
    EXPECT_TRUE(logged(APMMonitor::kLevelWarningSilent, 20002));
    EXPECT_TRUE(logged(APMMonitor::kLevelDebug, 20009));
    EXPECT_EQ(messageOf(20009), QStringLiteral("VIREO_ANALYTICS_IDFV_COLLECTION_ENABLED = YES"));
    EXPECT_FALSE(logged(APMMonitor::kLevelError, 20006));

    // The analytics front end is linked but the service configuration has
    // no Vireo app ID.
    serviceInfo_.reset();
    linkedClasses_ = { QStringLiteral("BASAnalytics") };
    info_.clear();
    identity = launch();
    EXPECT_TRUE(logged(APMMonitor::kLevelError, 20006));
    EXPECT_EQ(identity->appIDFromVMP(), QString());
    EXPECT_EQ(identity->appVersionMajor(), std::nullopt);

    // The setters take only the first non-empty ID of the process.
    identity->setAppIDFromVMP(QString());
    EXPECT_TRUE(logged(APMMonitor::kLevelErrorSilent, 20005));
    identity->setAppIDFromAdNest(QString());
    EXPECT_TRUE(logged(APMMonitor::kLevelErrorSilent, 20007));
    identity->setAppIDFromVMP(QStringLiteral("first"));
    identity->setAppIDFromVMP(QStringLiteral("second"));
    identity->setAppIDFromAdNest(QStringLiteral("adnest-first"));
    EXPECT_EQ(identity->appIDFromVMP(), QStringLiteral("first"));
    EXPECT_EQ(identity->appIDFromAdNest(), QStringLiteral("adnest-first"));
    auto another = launch();
    another->setAppIDFromVMP(QStringLiteral("third"));
    EXPECT_EQ(another->appIDFromVMP(), QString());
}

TEST_F(IdentityTest, VersionNumbersFromText)
{
    struct Case {
        const char* text;
        QList<qint32> fields;
    };
    const std::vector<Case> cases {
        { "1.2.3", { 1, 2, 3 } },
        { "2.0b4", { 2, 4 } },
        { "1..2.", { 1, 2 } },
        { "", {} },
        { "abc", { 0 } },
        { "99999999999.1", { std::numeric_limits<qint32>::max(), 1 } },
        { "-3.+4", { 3, 4 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric(QString::fromLatin1(c.text)), c.fields)
            << c.text;
    EXPECT_EQ(APMIdentity::appMetricsLibraryVersion(), 102700);
}

TEST_F(IdentityTest, NoIdentityWithoutPersistedConfig)
{
    EXPECT_EQ(APMIdentity::initWithPersistedConfig(nullptr, environment()), nullptr);
    EXPECT_TRUE(logged(APMMonitor::kLevelErrorSilent, 20004));
}

TEST_F(IdentityTest, QueuedWritesFinishBeforeTheIdentityGoes)
{
    auto identity = launch();
    identity->setAppInstanceID(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    identity->setShouldSetLastAdvertisingIDResetUserProperty(true);
    identity.reset();
    EXPECT_EQ(config_->appInstanceID(), QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_TRUE(config_->shouldSetLastAdvertisingIDResetUserProperty());
}

// A read runs on its caller while nothing is queued, and waits for the
// writes queued before it otherwise: a refresh held on the queue keeps the
// flag's write behind it, and the read answers the written flag only once
// the refresh is let go.
TEST_F(IdentityTest, ReadsWaitForQueuedWritesAndRunOnTheCallerOtherwise)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> hold { false };
    std::atomic<bool> refreshedOnCaller { false };
    const std::thread::id caller = std::this_thread::get_id();
    APMIdentity::Environment e = environment();
    e.gateIDFAOnATTMASEnabled = [&] {
        if (std::this_thread::get_id() == caller)
            refreshedOnCaller = true;
        if (hold)
            released.wait();
        return false;
    };
    auto identity = APMIdentity::initWithPersistedConfig(config_.get(), std::move(e));
    ASSERT_NE(identity, nullptr);

    EXPECT_FALSE(identity->updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_TRUE(refreshedOnCaller);

    hold = true;
    time_.advance(cacheTime_ + 1); // the next refresh is due again
    identity->updateIdentifiers();
    identity->setShouldSetLastAdvertisingIDResetUserProperty(true);
    std::future<bool> read = std::async(
        std::launch::async, [&] { return identity->shouldSetLastAdvertisingIDResetUserProperty(); });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    release.set_value();
    EXPECT_TRUE(read.get());
}

} // namespace
