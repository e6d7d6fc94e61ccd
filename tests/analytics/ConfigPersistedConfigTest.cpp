#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/AppPaths.h"
#include "platform/Preferences.h"
#include "platform/PropertyListCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QPoint>

#include <gtest/gtest.h>
#include <vector>

namespace {

// A store that counts how often it is asked to synchronise.
class CountingStore final : public APMConfigStore {
public:
    explicit CountingStore(fakes::VirtualTime& time)
        : time_(time)
    {
    }
    QVariant objectForKey(const QString& key) override { return values_.value(key); }
    bool setObject(const QVariant& value, const QString& key) override
    {
        if (!value.isValid())
            values_.remove(key);
        else
            values_.insert(key, value);
        return true;
    }
    void clearAllData() override { values_.clear(); }
    bool synchronize() override
    {
        synchronizedAt.push_back(time_.now());
        return true;
    }
    std::vector<double> synchronizedAt;

private:
    fakes::VirtualTime& time_;
    QVariantMap values_;
};

QVariantMap fileContents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto value = platform::PropertyListCodec::fromXml(file.readAll());
    return value ? value->toMap() : QVariantMap();
}

class PersistedConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vul_.setSink([this](int, const QString&, const QString& code, const QString& message) {
            lines_.push_back(code + QLatin1Char(' ') + message);
        });
        APMMonitor::Environment e;
        e.queue = &time_;
        e.clock = &time_;
        e.monitorUserDefaults = &monitorDefaults_;
        e.sharedUserDefaults = &sharedDefaults_;
        e.utilitiesLogger = &vul_;
        e.randomBelow = [](quint64) { return quint64(0); };
        monitor_ = std::make_unique<APMMonitor>(102700, e);
    }

    std::unique_ptr<APMPersistedConfig> open(std::unique_ptr<APMConfigStore> store = nullptr)
    {
        APMPersistedConfig::Environment e;
        e.queue = &time_;
        e.storeQueue = &time_;
        e.store = std::move(store);
        e.sharedUserDefaults = &sharedDefaults_;
        e.monitor = monitor_.get();
        return APMPersistedConfig::initWithSuiteName(APMPersistedConfig::kSuiteName, std::move(e));
    }

    QString plistPath() const { return APMApplicationSupportPlistPath(APMPersistedConfig::kSuiteName); }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    platform::Preferences monitorPrefs_ { home_.path() + QStringLiteral("/monitor.plist") };
    platform::Preferences sharedPrefs_ { home_.path() + QStringLiteral("/shared.plist") };
    APMUserDefaults monitorDefaults_ { APMMonitor::kMonitorSuiteName, monitorPrefs_ };
    APMUserDefaults sharedDefaults_ { QString(), sharedPrefs_ };
    VULLogger vul_;
    std::vector<QString> lines_;
    std::unique_ptr<APMMonitor> monitor_;
};

TEST_F(PersistedConfigTest, EmptySuiteNameGivesNothing)
{
    EXPECT_FALSE(APMPersistedConfig::initWithSuiteName(QString()));
}

TEST_F(PersistedConfigTest, ValuesReachThePlistAndSurviveARestart)
{
    {
        auto config = open();
        ASSERT_TRUE(config);
        EXPECT_FALSE(config->isInMemoryOnly());
        config->setAppInstanceID(QStringLiteral("ABC"));
        config->setSessionNumber(3);
        config->setLastBackoffTimestamp(1'700'000'000.5);
        config->setShouldSetLastAdvertisingIDResetUserProperty(true);
        config->setDefaultEventParameters(QVariantMap { { QStringLiteral("p"), 1 } });
        config->setPreviousFirstOpenCount(QVariant(2));
        time_.advance(1);
    }
    const QVariantMap file = fileContents(plistPath());
    EXPECT_EQ(
        file.value(QStringLiteral("/vireo/measurement/app_instance_id")), QVariant(QStringLiteral("ABC")));
    EXPECT_EQ(file.value(QStringLiteral("/vireo/measurement/session_number")), QVariant(3LL));
    EXPECT_EQ(file.value(QStringLiteral("/vireo/measurement/set_last_advertising_id_reset")), QVariant(1LL));

    auto config = open();
    EXPECT_EQ(config->appInstanceID(), QStringLiteral("ABC"));
    EXPECT_EQ(config->sessionNumber(), 3);
    EXPECT_EQ(config->lastBackoffTimestamp(), 1'700'000'000.5);
    EXPECT_TRUE(config->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_FALSE(config->unmatchedFirstOpenWithoutIDFA());
    EXPECT_EQ(config->defaultEventParameters(), (QVariantMap { { QStringLiteral("p"), 1LL } }));
    EXPECT_EQ(config->previousFirstOpenCount(), QVariant(2LL));
}

TEST_F(PersistedConfigTest, TypedReadsAndNilWrites)
{
    auto config = open();
    config->setString(QStringLiteral("text"), QStringLiteral("k"));
    EXPECT_EQ(config->int64ForKey(QStringLiteral("k")), 0);
    EXPECT_EQ(config->doubleForKey(QStringLiteral("k")), 0.0);
    EXPECT_EQ(
        config->numberForKey(QStringLiteral("k")), QVariant(QStringLiteral("text"))); // unchanged object
    config->setString(QString(), QStringLiteral("k"));
    EXPECT_TRUE(config->stringForKey(QStringLiteral("k")).isNull());
    config->setDictionary(std::nullopt, QStringLiteral("k"));
    EXPECT_FALSE(config->dictionaryForKey(QStringLiteral("k")));
    EXPECT_FALSE(config->boolForKey(QString()));
    EXPECT_EQ(config->int64ForKey(QString()), 0);
}

TEST_F(PersistedConfigTest, MidnightOffsetIsDrawnOnceAndKept)
{
    double first = 0;
    {
        auto config = open();
        first = config->midnightOffset();
        EXPECT_GE(first, 0.0);
        EXPECT_LT(first, 86400.0);
        EXPECT_EQ(config->midnightOffset(), first);
        time_.advance(1);
    }
    EXPECT_EQ(open()->midnightOffset(), first);
}

TEST_F(PersistedConfigTest, BurstOfWritesSynchronisesOnceASecondAfterTheLast)
{
    auto store = std::make_unique<CountingStore>(time_);
    CountingStore* counting = store.get();
    auto config = open(std::move(store));
    const double start = time_.now();
    for (int i = 0; i < 10; ++i) {
        config->setInt64(i, QStringLiteral("/vireo/measurement/session_number"));
        time_.advance(0.1);
    }
    time_.advance(5);
    ASSERT_EQ(counting->synchronizedAt.size(), 1u);
    EXPECT_DOUBLE_EQ(counting->synchronizedAt[0], start + 0.9 + 1.0);
}

TEST_F(PersistedConfigTest, SynchronizeOnTheMainThreadIsDeferred)
{
    auto store = std::make_unique<CountingStore>(time_);
    CountingStore* counting = store.get();
    auto config = open(std::move(store));
    config->synchronizeToDisk(); // tests run on the main thread
    EXPECT_TRUE(counting->synchronizedAt.empty());
    time_.advance(1);
    EXPECT_EQ(counting->synchronizedAt.size(), 1u);

    config->scheduleSynchronizeToDisk();
    config->cancelScheduledSynchronize();
    time_.advance(2);
    EXPECT_EQ(counting->synchronizedAt.size(), 1u);
}

TEST_F(PersistedConfigTest, OddAccessorsFollowTheirOwnRules)
{
    auto config = open();
    config->setSearchAdCampaignValue(QVariant(1));
    config->setSearchAdCampaignValue(QVariant(QStringLiteral("yes"))); // not a number: ignored
    EXPECT_EQ(config->searchAdCampaignValue(), QVariant(1LL));

    config->setAllowPersonalizedAds(QVariant(false));
    EXPECT_EQ(config->allowPersonalizedAds().metaType().id(), QMetaType::Bool);
    config->setLoadTimestampValue(QVariant(12.5));
    EXPECT_EQ(config->loadTimestampValue(), QVariant(12.5));

    config->setMeasurementEnabledState(2);
    EXPECT_EQ(config->measurementEnabledState(), 2);
    EXPECT_EQ(
        sharedPrefs_.value(QStringLiteral("/vireo/measurement/measurement_enabled_state")), QVariant(2LL));
}

TEST_F(PersistedConfigTest, UnsupportedDictionaryIsLoggedAndChangesNothing)
{
    auto config = open();
    config->setDefaultEventParameters(QVariantMap { { QStringLiteral("a"), 1 } });
    config->setDefaultEventParameters(QVariantMap { { QStringLiteral("p"), QPoint(1, 2) } });
    EXPECT_EQ(config->defaultEventParameters(), (QVariantMap { { QStringLiteral("a"), 1LL } }));
    // Level 1: printed and recorded.
    EXPECT_EQ(monitor_->monitoringDataForDispatchWithSamplePeriod(-1, 0),
        QStringLiteral("1:1E_102700:Unsupported value passed in dictionary"));
}

TEST_F(PersistedConfigTest, FolderThatCannotBeMadeFallsBackToMemory)
{
    QFile blocker(platform::AppPaths::applicationSupport() + QStringLiteral("/Vireo"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    auto config = open();
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->isInMemoryOnly());
    config->setAppInstanceID(QStringLiteral("kept"));
    config->setSessionNumber(4);
    time_.advance(2);
    EXPECT_EQ(config->appInstanceID(), QStringLiteral("kept"));
    EXPECT_EQ(config->sessionNumber(), 4);
    const double offset = config->midnightOffset();
    EXPECT_EQ(config->midnightOffset(), offset);

    time_.runPending();
    bool errorPrinted = false;
    for (const QString& line : lines_)
        errorPrinted |= line.startsWith(QStringLiteral("I-ACS027003 "));
    EXPECT_TRUE(errorPrinted);
    EXPECT_TRUE(monitor_->monitoringDataForDispatchWithSamplePeriod(-1, 0).startsWith(
        QStringLiteral("1:1E_102700:")));
}

TEST_F(PersistedConfigTest, FormerPreferencesFileMovesIntoTheLibraryFolder)
{
    const QString oldPath = APMPreferencesPlistPath(APMPersistedConfig::kSuiteName);
    {
        platform::Preferences old(oldPath);
        old.setValue(QStringLiteral("/vireo/measurement/app_instance_id"), QStringLiteral("OLD"));
    }
    ASSERT_TRUE(QFileInfo::exists(oldPath));
    {
        auto config = open();
        EXPECT_EQ(config->appInstanceID(), QStringLiteral("OLD"));
        EXPECT_FALSE(QFileInfo::exists(oldPath));
        EXPECT_TRUE(QFileInfo::exists(plistPath()));
    }
    // A second start finds nothing to move.
    EXPECT_TRUE(APMMigratePreferencesPlist(APMPersistedConfig::kSuiteName));
    EXPECT_EQ(open()->appInstanceID(), QStringLiteral("OLD"));

    // When both exist the new file wins and the old one goes.
    platform::Preferences(oldPath).setValue(QStringLiteral("x"), 1);
    EXPECT_TRUE(APMMigratePreferencesPlist(APMPersistedConfig::kSuiteName));
    EXPECT_FALSE(QFileInfo::exists(oldPath));
    EXPECT_EQ(fileContents(plistPath()).value(QStringLiteral("/vireo/measurement/app_instance_id")),
        QVariant(QStringLiteral("OLD")));
    EXPECT_FALSE(APMMigratePreferencesPlist(QString()));
}

} // namespace
