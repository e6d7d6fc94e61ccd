// The default identity support: the "unknown" answers without a system
// source, the all-zero identifier, the bounded wait for a slow source, and
// the vendor identifier kept across launches.
#include "analytics/base/APMPlatformIdentitySupport.h"
#include "analytics/base/APMDefaultIdentitySupport.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"

#include <QUuid>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

const QString kIdentifier = QStringLiteral("6D92078A-8246-4BA4-AE5B-76104861E7DC");

// A system source that holds its identifier answer until the test lets it go.
class HeldTrackingAuthorization final : public platform::TrackingAuthorization {
public:
    bool hasAppDataConsentStatus() const override { return true; }
    quint64 appDataConsentStatus() const override { return Authorized; }
    bool hasLimitedAdTracking() const override { return true; }
    bool limitedAdTracking() const override { return false; }
    std::optional<QString> resettableDeviceID() const override
    {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return open_; });
        ++answered_;
        return kIdentifier;
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        released_.notify_all();
    }
    int answered() const
    {
        std::lock_guard lock(mutex_);
        return answered_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable released_;
    bool open_ = false;
    mutable int answered_ = 0;
};

class DeviceIdentifiersTest : public ::testing::Test {
protected:
    std::unique_ptr<APMPersistedConfig> persistedOver(const QString& fileName)
    {
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::initWithFileName(fileName);
        e.sharedUserDefaults = defaults_.get();
        e.queue = &flushQueue_;
        return APMPersistedConfig::initWithSuiteName(QStringLiteral("identifiers-test"), std::move(e));
    }

    fakes::TempHome home_;
    fakes::VirtualTime flushQueue_;
    std::unique_ptr<APMConfigStore> defaults_ = APMPersistentDictionary::inMemory();
};

TEST_F(DeviceIdentifiersTest, AnswersWithoutASourceAndFromEachKindOfSource)
{
    fakes::FakeTrackingAuthorization withID;
    withID.setAvailable(kIdentifier, platform::TrackingAuthorization::Denied);
    fakes::FakeTrackingAuthorization zeros;
    zeros.setAvailable(platform::TrackingAuthorization::kZeroIdentifier, platform::TrackingAuthorization::Authorized);
    fakes::FakeTrackingAuthorization unavailable;
    struct Case {
        const char* name;
        const platform::TrackingAuthorization* source;
        bool hasStatus;
        quint64 status;
        bool hasLimited;
        bool limited;
        std::optional<QString> identifier;
    };
    const Case cases[] = {
        { "no system source", nullptr, false, platform::TrackingAuthorization::kStatusUnavailable, false, true,
            std::nullopt },
        { "source with an identifier", &withID, true, platform::TrackingAuthorization::Denied, true, false,
            kIdentifier },
        { "source answering zeros", &zeros, true, platform::TrackingAuthorization::Authorized, true, true,
            platform::TrackingAuthorization::kZeroIdentifier },
        { "source with nothing", &unavailable, false, platform::TrackingAuthorization::kStatusUnavailable, false,
            true, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<APMPlatformIdentitySupport> platformSupport
            = c.source ? std::optional<APMPlatformIdentitySupport>(std::in_place, *c.source) : std::nullopt;
        APMDefaultIdentitySupport support(platformSupport ? &*platformSupport : nullptr, APMLibrary::monitor());
        EXPECT_EQ(support.hasAppDataConsentStatus(), c.hasStatus);
        EXPECT_EQ(support.appDataConsentStatus(), c.status);
        EXPECT_EQ(support.hasLimitedAdTracking(), c.hasLimited);
        EXPECT_EQ(support.resettableDeviceID(), c.identifier);
        EXPECT_EQ(support.limitedAdTracking(), c.limited);
        EXPECT_TRUE(APMDefaultIdentitySupport::iOS14OrAbove());
    }
}

TEST_F(DeviceIdentifiersTest, ASlowSourceNeverHoldsTheCallerAndItsAnswerIsKeptForLater)
{
    HeldTrackingAuthorization held;
    {
        APMPlatformIdentitySupport platformSupport(held);
        APMDefaultIdentitySupport support(&platformSupport, APMLibrary::monitor());
        // The source does not answer within the wait: nothing yet.
        EXPECT_EQ(support.resettableDeviceID(), std::nullopt);
        EXPECT_TRUE(support.limitedAdTracking());
        held.release();
        // Each call asks again (and waits at most its ten milliseconds);
        // once an answer has come, it is what callers get.
        std::optional<QString> later;
        EXPECT_TRUE(fakes::FakeHttpServer::waitUntil([&] {
            later = support.resettableDeviceID();
            return later.has_value();
        }));
        EXPECT_EQ(later, kIdentifier);
        EXPECT_FALSE(support.limitedAdTracking());
    }
    // Destroying the support waited for the questions still queued.
    EXPECT_GE(held.answered(), 2);
}

TEST_F(DeviceIdentifiersTest, TheVendorIdentifierIsMadeOnceAndKeptAcrossLaunches)
{
    QString first;
    {
        const auto persisted = persistedOver(QStringLiteral("identifiers-state"));
        first = APMDefaultIdentitySupport::identifierForVendor(*persisted);
        EXPECT_FALSE(QUuid::fromString(first).isNull());
        EXPECT_EQ(first, first.toUpper());
        EXPECT_EQ(APMDefaultIdentitySupport::identifierForVendor(*persisted), first);
    }
    {
        // A new process over the same file.
        const auto persisted = persistedOver(QStringLiteral("identifiers-state"));
        EXPECT_EQ(APMDefaultIdentitySupport::identifierForVendor(*persisted), first);
        // A damaged value is replaced by a fresh identifier.
        persisted->setString(QStringLiteral("not-a-uuid"), APMDefaultIdentitySupport::kVendorIdentifierKey);
        const QString replaced = APMDefaultIdentitySupport::identifierForVendor(*persisted);
        EXPECT_NE(replaced, first);
        EXPECT_FALSE(QUuid::fromString(replaced).isNull());
        // Cleared with the rest of the library's state.
        persisted->clearValues();
        EXPECT_NE(APMDefaultIdentitySupport::identifierForVendor(*persisted), replaced);
    }
}

TEST_F(DeviceIdentifiersTest, TheIdentityHandsOutTheVendorIdentifierUnlessSwitchedOff)
{
    const auto persisted = persistedOver(QStringLiteral("identity-vendor-state"));
    fakes::FakeTrackingAuthorization tracking;
    APMPlatformIdentitySupport trackingSupport(tracking);
    struct Case {
        const char* name;
        QVariant idfvSwitch;
        bool handedOut;
    };
    const Case cases[] = {
        { "no switch", QVariant(), true },
        { "switched on", true, true },
        { "switched off", false, false },
        { "switch not a number", QStringLiteral("NO"), true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        APMIdentity::Environment e = APMIdentity::defaultEnvironment();
        e.identitySupport = &trackingSupport;
        e.infoDictionary = {};
        if (c.idfvSwitch.isValid())
            e.infoDictionary.insert(APMIdentity::kIDFVCollectionEnabledKey, c.idfvSwitch);
        const auto identity = APMIdentity::initWithPersistedConfig(persisted.get(), std::move(e));
        const std::optional<QString> vendor = identity->identifierForVendor();
        EXPECT_EQ(vendor.has_value(), c.handedOut);
        if (vendor) {
            EXPECT_EQ(*vendor, APMDefaultIdentitySupport::identifierForVendor(*persisted));
        }
    }
}

} // namespace

// This system offers neither an advertising identifier nor a tracking
// authorisation: the platform identity support answers "unknown" throughout.
TEST_F(DeviceIdentifiersTest, ThePlatformIdentitySupportOfThisSystemKnowsNothing)
{
    const APMIdentitySupport& platformSupport = APMPlatformIdentitySupport::sharedInstance();
    EXPECT_FALSE(platformSupport.hasAppDataConsentStatus());
    EXPECT_EQ(platformSupport.appDataConsentStatus(), platform::TrackingAuthorization::kStatusUnavailable);
    EXPECT_FALSE(platformSupport.hasLimitedAdTracking());
    EXPECT_EQ(platformSupport.resettableDeviceID(), std::nullopt);
}
