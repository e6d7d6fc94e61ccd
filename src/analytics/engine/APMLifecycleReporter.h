#pragma once

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <mutex>
#include <optional>

class APMMeasurement;
struct APMEngineContext;

// The engine's automatic lifecycle reports: first open (with the engagement
// that accompanies it), app and OS updates, the campaign of a stored deep
// link, the session-number backfill, and the personalized-ads user property
// with the ad-personalization consent it implies. Worker queue unless noted.
class APMLifecycleReporter {
public:
    APMLifecycleReporter(APMEngineContext& shared, APMMeasurement& engine);
    APMLifecycleReporter(const APMLifecycleReporter&) = delete;
    APMLifecycleReporter& operator=(const APMLifecycleReporter&) = delete;

    // What the start reports, in order (first open, updates, the stored
    // campaign, the deferred deep link).
    void reportLifecycleOnStartOnWorkerQueue();
    void reportFirstOpenOnWorkerQueue();
    // A store without a session number takes the count of sessions seen.
    void backfillSessionNumber();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void reportStoredCampaignEventOnWorkerQueue(std::optional<qint64> clickTimestampInMillis);
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void updateAdPersonalizationConsentFromNPAValue(qint64 value);
    // 1 (disable), 0 (allow) or nothing, from the first source that has a value.
    std::optional<qint64> shouldDisableAdPersonalization();
    // Any thread: the next whole hour after the time (an hour start moves on).
    static qint64 timestampMillisRoundedUpToNextHour(qint64 milliseconds);
    // Any thread: whether the running version is the one first installed.
    bool isVersionSameAsOriginalVersion();
    // The number of first-open events stored so far as decimal text; a null
    // QString when unset. The setter stores the text's integer value; a null
    // text clears it.
    QString previousFirstOpenCount();
    void setPreviousFirstOpenCount(const QString& count);
    void logLifecycleEventOnWorkerQueue(
        const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen = {});
    // The deferred-collection mark: set once (1 when collection is off),
    // cleared when first open has reported it or did not need it.
    void markDeferredAnalyticsCollection(bool enabled);
    // A wipe keeps the app ID it wiped for the next first open to report.
    void setPreviousVMPAppID(const QString& appID);

private:
    void clearDeferredAnalyticsCollection();

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    QString previousVMPAppID_;
    bool foundAdPersonalizationPlistFlag_ = false;
    std::once_flag originalVersionOnce_;
    bool isVersionSameAsOriginalVersion_ = false;
};
