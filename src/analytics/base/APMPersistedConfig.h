#pragma once

#include "analytics/base/APMConfigStore.h"

#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {
class Executor;
class SerialQueue;
} // namespace platform

class APMMonitor;

// Small state of the analytics library that must survive a restart, kept in
// the plist store "com.vireo.vmp.measurement.plist" in the library's
// Application Support folder. When that folder cannot be made the values are
// kept in memory for the life of the process (and the failure is logged at
// error level), so the engine still works within the run. Only the
// measurement-enabled state lives in the application's own defaults.
//
// Reads and writes may come from any thread and are serialised; each typed
// write schedules one synchronisation of the store a second later, so a
// burst of writes costs one pass.
class APMPersistedConfig {
public:
    static const QString kSuiteName; // "com.vireo.vmp.measurement"
    static constexpr double kSynchronizeDelaySeconds = 1.0;

    struct Environment {
        // Runs the delayed synchronisation; null: an own queue "APMPersistedConfig".
        platform::Executor* queue = nullptr;
        // The plist store's delayed writes; null: the store's own queue.
        platform::Executor* storeQueue = nullptr;
        // The store; null: the plist store named after the suite.
        std::unique_ptr<APMConfigStore> store;
        // Where the measurement-enabled state lives; null: the application's defaults.
        APMConfigStore* sharedUserDefaults = nullptr;
        // null: the process-wide monitor.
        APMMonitor* monitor = nullptr;
    };

    static APMPersistedConfig& sharedInstance();
    // Nothing for an empty suite name. Moves a former preferences file of
    // the suite into the Application Support folder first.
    static std::unique_ptr<APMPersistedConfig> initWithSuiteName(const QString& suiteName);
    static std::unique_ptr<APMPersistedConfig> initWithSuiteName(
        const QString& suiteName, Environment environment);
    ~APMPersistedConfig();

    APMPersistedConfig(const APMPersistedConfig&) = delete;
    APMPersistedConfig& operator=(const APMPersistedConfig&) = delete;

    const QString& name() const { return name_; }
    // True when the values only live in memory.
    bool isInMemoryOnly() const { return inMemoryOnly_; }

    // Typed reads: an empty key, a missing value or one of another kind
    // answers false, 0, 0.0, a null string or nothing.
    bool boolForKey(const QString& key);
    qint64 int64ForKey(const QString& key);
    qint64 int64ForKey(const QString& key, APMConfigStore& userDefault);
    double doubleForKey(const QString& key);
    QString stringForKey(const QString& key);
    std::optional<QVariantMap> dictionaryForKey(const QString& key);
    QVariant numberForKey(const QString& key); // the stored object, of whatever kind

    // Typed writes; a null string, an invalid number or no dictionary
    // removes the key.
    void setBool(bool value, const QString& key);
    void setInt64(qint64 value, const QString& key);
    void setDouble(double value, const QString& key);
    void setString(const QString& value, const QString& key);
    void setDictionary(const std::optional<QVariantMap>& value, const QString& key);
    void setNumber(const QVariant& value, const QString& key);

    void clearValues();
    void scheduleSynchronizeToDisk();
    void cancelScheduledSynchronize();
    // On the main thread only schedules; elsewhere flushes the store now.
    void synchronizeToDisk();

    double lastDeleteStaleBundlesTimestamp();
    void setLastDeleteStaleBundlesTimestamp(double value);
    QVariant searchAdCampaignValue();
    void setSearchAdCampaignValue(const QVariant& value); // numbers only
    double lastSearchAdLookUpTimestamp();
    void setLastSearchAdLookUpTimestamp(double value);
    qint64 searchAdRetryCount();
    void setSearchAdRetryCount(qint64 value);
    QString appInstanceID();
    void setAppInstanceID(const QString& value);
    QString appIDFromVMP();
    void setAppIDFromVMP(const QString& value);
    QString appIDFromAdNest();
    void setAppIDFromAdNest(const QString& value);
    QString hashedResettableDeviceID();
    void setHashedResettableDeviceID(const QString& value);
    QString diversionKey();
    void setDiversionKey(const QString& value);
    // 0 unset, 1 enabled, 2 disabled; kept in the application's defaults.
    qint64 measurementEnabledState();
    void setMeasurementEnabledState(qint64 value);
    double lastBackoffTimestamp();
    void setLastBackoffTimestamp(double value);
    double lastSuccessfulUploadTimestamp();
    void setLastSuccessfulUploadTimestamp(double value);
    double lastFailedUploadTimestamp();
    void setLastFailedUploadTimestamp(double value);
    QString appVersion();
    void setAppVersion(const QString& value);
    QString osVersion();
    void setOSVersion(const QString& value);
    // Fixed at first use: a random offset of the day boundary in [0, 86400).
    double midnightOffset();
    double lastMonitorDataSampledTimestamp();
    void setLastMonitorDataSampledTimestamp(double value);
    qint64 firstOpenTimestampMilliseconds();
    void setFirstOpenTimestampMilliseconds(qint64 value);
    QString configServerLastModifiedString();
    void setConfigServerLastModifiedString(const QString& value);
    QString configServerETag();
    void setConfigServerETag(const QString& value);
    QVariant loadTimestampValue();
    void setLoadTimestampValue(const QVariant& value);
    QVariant allowPersonalizedAds();
    void setAllowPersonalizedAds(const QVariant& value);
    QString basaltFeatureRollouts();
    void setBasaltFeatureRollouts(const QString& value);
    QVariant deferredDeepLinkRetrievalComplete();
    void setDeferredDeepLinkRetrievalComplete(const QVariant& value);
    qint64 deferredDeepLinkRetryCount();
    void setDeferredDeepLinkRetryCount(qint64 value);
    bool shouldSetLastAdvertisingIDResetUserProperty();
    void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
    bool unmatchedFirstOpenWithoutIDFA();
    void setUnmatchedFirstOpenWithoutIDFA(bool value);
    QVariant previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QVariant& value);
    QString previousBundledConsentSignals();
    void setPreviousBundledConsentSignals(const QString& value);
    double lastSessionActivityClockTime();
    void setLastSessionActivityClockTime(double value);
    qint64 sessionNumber();
    void setSessionNumber(qint64 value);
    std::optional<QVariantMap> defaultEventParameters();
    void setDefaultEventParameters(const std::optional<QVariantMap>& value);
    qint64 lastUploadedEventTimestampMillis();
    void setLastUploadedEventTimestampMillis(qint64 value);
    qint64 SKANEvaluationEventTimeMillis();
    void setSKANEvaluationEventTimeMillis(qint64 value);
    qint64 SKANEvaluationUpdateBackoffMillis();
    void setSKANEvaluationUpdateBackoffMillis(qint64 value);

private:
    struct State;

    APMPersistedConfig(const QString& name, Environment environment);
    QVariant rawObject(const QString& key);
    void storeObject(const QVariant& value, const QString& key);

    QString name_;
    bool inMemoryOnly_ = false;
    APMConfigStore* sharedUserDefaults_;
    APMMonitor* monitor_;
    std::unique_ptr<platform::SerialQueue> ownQueue_;
    platform::Executor* queue_;
    std::shared_ptr<State> state_;
};

// Moves the suite's former preferences file into the Application Support
// folder. True when there was nothing to move or the move succeeded; false
// (leaving both files) otherwise.
bool APMMigratePreferencesPlist(const QString& suiteName);
