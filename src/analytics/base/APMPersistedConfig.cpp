#include "analytics/base/APMPersistedConfig.h"

#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/APMLibrary.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

const QString APMPersistedConfig::kSuiteName = QStringLiteral("com.vireo.vmp.measurement");

namespace {

const QString kConfigQueueName = QStringLiteral("APMPersistedConfig");
const QString kUnsupportedDictionaryMessage = QStringLiteral("Unsupported value passed in dictionary");
const QString kMemoryOnlyMessage
    = QStringLiteral("Cannot create the persisted configuration file. Values are kept in memory only");

constexpr quint32 kMillisecondsPerDay = 86'400'000;

QString key(const char* name)
{
    return QStringLiteral("/vireo/measurement/") + QLatin1String(name);
}

const QString kLastDeleteStale = key("last_delete_stale");
const QString kIsSearchAdCampaign = key("is_search_ad_campaign");
const QString kSearchAdLastAttempt = key("search_ad_last_attempt_timestamp");
const QString kSearchAdRetries = key("search_ad_number_of_retries");
const QString kAppInstanceID = key("app_instance_id");
const QString kVMPAppID = key("vmp_app_id");
const QString kAdNestAppID = key("adnest_app_id");
const QString kHashedIDFA = key("hashed_idfa");
const QString kDiversionKey = key("diversion_key");
const QString kMeasurementEnabledState = key("measurement_enabled_state");
const QString kLastBackoff = key("last_backoff");
const QString kLastSuccessfulUpload = key("last_successful_upload");
const QString kLastFailedUpload = key("last_failed_upload");
const QString kAppVersion = key("app_version");
const QString kOSVersion = key("os_version");
const QString kMidnightOffset = key("midnight_offset");
const QString kLastMonitorDataSampled = key("last_monitor_data_sampled_timestamp");
const QString kFirstOpenTimestampMs = key("first_open_timestamp_ms");
const QString kLastModifiedSince = key("last_modified_since_key");
const QString kConfigETag = key("config_etag");
const QString kLoadTimestamp = key("load_timestamp");
const QString kAllowPersonalizedAds = key("allow_personalized_ads");
const QString kFeatureRollouts = key("basalt_feature_rollouts");
const QString kDeepLinkRetrievalComplete = key("deep_link_retrieval_complete");
const QString kDeepLinkRetryCount = key("deep_link_retry_count");
const QString kSetLastAdvertisingIDReset = key("set_last_advertising_id_reset");
const QString kUnmatchedFirstOpen = key("unmatched_first_open");
const QString kPreviousFirstOpenCount = key("previous_first_open_count");
const QString kPreviousBundledConsentSignals = key("previous_bundled_consent_signals");
const QString kLastEngagementEnd = key("last_engagement_end");
const QString kSessionNumber = key("session_number");
const QString kDefaultEventParameters = key("default_event_parameters");
const QString kLastUploadedEventMillis = key("last_uploaded_event_millis");
const QString kSKANEvaluationEventTimeMillis = key("skan_evaluation_event_time_millis");
const QString kSKANEvaluationUpdateBackoffMillis = key("skan_evaluation_update_backoff_millis");

} // namespace

struct APMPersistedConfig::State {
    QMutex accessMutex; // serialises reads and writes of the store
    std::unique_ptr<APMConfigStore> store;
    QMutex syncMutex; // guards the pending synchronisation only
    std::optional<platform::TaskId> synchronizeTask;
};

APMPersistedConfig& APMPersistedConfig::sharedInstance()
{
    static APMPersistedConfig* shared
        = initWithSuiteName(kSuiteName).release(); // lives as long as the process
    return *shared;
}

std::unique_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(const QString& suiteName)
{
    return initWithSuiteName(suiteName, Environment());
}

std::unique_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(
    const QString& suiteName, Environment environment)
{
    if (suiteName.isEmpty())
        return nullptr;
    return std::unique_ptr<APMPersistedConfig>(new APMPersistedConfig(suiteName, std::move(environment)));
}

APMPersistedConfig::APMPersistedConfig(const QString& name, Environment environment)
    : name_(name)
    , sharedUserDefaults_(environment.sharedUserDefaults ? environment.sharedUserDefaults
                                                         : &APMUserDefaults::sharedUserDefaults())
    , monitor_(environment.monitor ? environment.monitor : &APMLibrary::monitor())
    , state_(std::make_shared<State>())
{
    if (environment.queue) {
        queue_ = environment.queue;
    } else {
        ownQueue_ = std::make_unique<platform::SerialQueue>(kConfigQueueName);
        queue_ = ownQueue_.get();
    }
    state_->store = std::move(environment.store);
    if (!state_->store) {
        APMMigratePreferencesPlist(name_);
        state_->store = environment.storeQueue
            ? APMPersistentDictionary::initWithFileName(name_, *environment.storeQueue)
            : APMPersistentDictionary::initWithFileName(name_);
    }
    if (!state_->store) {
        // Losing every value the engine writes would make it repeat first
        // opens and lose its identifiers within the run; memory keeps them.
        inMemoryOnly_ = true;
        state_->store = APMPersistentDictionary::inMemory();
        monitor_->logWithLevel(APMMonitor::kLevelErrorMonitored, 27003, kMemoryOnlyMessage, name_);
    }
}

APMPersistedConfig::~APMPersistedConfig()
{
    cancelScheduledSynchronize();
}

bool APMPersistedConfig::boolForKey(const QString& key)
{
    if (key.isEmpty())
        return false;
    QMutexLocker lock(&state_->accessMutex);
    return state_->store->boolForKey(key);
}

qint64 APMPersistedConfig::int64ForKey(const QString& key)
{
    if (key.isEmpty())
        return 0;
    QMutexLocker lock(&state_->accessMutex);
    return APMConfigStore::int64FromNumber(state_->store->objectForKey(key));
}

qint64 APMPersistedConfig::int64ForKey(const QString& key, APMConfigStore& userDefault)
{
    if (key.isEmpty())
        return 0;
    QMutexLocker lock(&state_->accessMutex);
    return APMConfigStore::int64FromNumber(userDefault.objectForKey(key));
}

double APMPersistedConfig::doubleForKey(const QString& key)
{
    if (key.isEmpty())
        return 0.0;
    QMutexLocker lock(&state_->accessMutex);
    return state_->store->doubleForKey(key);
}

QString APMPersistedConfig::stringForKey(const QString& key)
{
    if (key.isEmpty())
        return QString();
    QMutexLocker lock(&state_->accessMutex);
    return state_->store->stringForKey(key);
}

std::optional<QVariantMap> APMPersistedConfig::dictionaryForKey(const QString& key)
{
    if (key.isEmpty())
        return std::nullopt;
    QMutexLocker lock(&state_->accessMutex);
    return state_->store->dictionaryForKey(key);
}

QVariant APMPersistedConfig::numberForKey(const QString& key)
{
    return rawObject(key);
}

void APMPersistedConfig::setBool(bool value, const QString& key)
{
    {
        QMutexLocker lock(&state_->accessMutex);
        state_->store->setBool(value, key);
    }
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setInt64(qint64 value, const QString& key)
{
    setNumber(QVariant(static_cast<qlonglong>(value)), key);
}

void APMPersistedConfig::setDouble(double value, const QString& key)
{
    {
        QMutexLocker lock(&state_->accessMutex);
        state_->store->setDouble(value, key);
    }
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setString(const QString& value, const QString& key)
{
    setNumber(value.isNull() ? QVariant() : QVariant(value), key);
}

void APMPersistedConfig::setDictionary(const std::optional<QVariantMap>& value, const QString& key)
{
    bool stored = true;
    {
        QMutexLocker lock(&state_->accessMutex);
        stored = state_->store->setObject(value ? QVariant(*value) : QVariant(), key);
    }
    if (!stored)
        monitor_->logWithLevel(APMMonitor::kLevelErrorMonitored, 27002, kUnsupportedDictionaryMessage);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setNumber(const QVariant& value, const QString& key)
{
    storeObject(value, key);
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::clearValues()
{
    QMutexLocker lock(&state_->accessMutex);
    state_->store->clearAllData();
}

void APMPersistedConfig::scheduleSynchronizeToDisk()
{
    std::weak_ptr<State> weak = state_;
    QMutexLocker lock(&state_->syncMutex);
    if (state_->synchronizeTask)
        queue_->cancel(*state_->synchronizeTask);
    state_->synchronizeTask = queue_->asyncAfter(kSynchronizeDelaySeconds, [weak] {
        const std::shared_ptr<State> state = weak.lock();
        if (!state)
            return;
        {
            QMutexLocker syncLock(&state->syncMutex);
            state->synchronizeTask.reset();
        }
        QMutexLocker accessLock(&state->accessMutex);
        state->store->synchronize();
    });
}

void APMPersistedConfig::cancelScheduledSynchronize()
{
    QMutexLocker lock(&state_->syncMutex);
    if (state_->synchronizeTask)
        queue_->cancel(*state_->synchronizeTask);
    state_->synchronizeTask.reset();
}

void APMPersistedConfig::synchronizeToDisk()
{
    // Flushing may touch the disk; the main thread leaves it to the queue.
    if (platform::MainQueue::isMainThread()) {
        scheduleSynchronizeToDisk();
        return;
    }
    QMutexLocker lock(&state_->accessMutex);
    state_->store->synchronize();
}

QVariant APMPersistedConfig::rawObject(const QString& key)
{
    QMutexLocker lock(&state_->accessMutex);
    return state_->store->objectForKey(key);
}

void APMPersistedConfig::storeObject(const QVariant& value, const QString& key)
{
    QMutexLocker lock(&state_->accessMutex);
    state_->store->setObject(value, key);
}

double APMPersistedConfig::lastDeleteStaleBundlesTimestamp()
{
    return doubleForKey(kLastDeleteStale);
}
void APMPersistedConfig::setLastDeleteStaleBundlesTimestamp(double value)
{
    setDouble(value, kLastDeleteStale);
}

QVariant APMPersistedConfig::searchAdCampaignValue()
{
    return rawObject(kIsSearchAdCampaign);
}

void APMPersistedConfig::setSearchAdCampaignValue(const QVariant& value)
{
    if (APMConfigStore::isNumber(value))
        storeObject(value, kIsSearchAdCampaign);
}

double APMPersistedConfig::lastSearchAdLookUpTimestamp()
{
    return doubleForKey(kSearchAdLastAttempt);
}
void APMPersistedConfig::setLastSearchAdLookUpTimestamp(double value)
{
    setDouble(value, kSearchAdLastAttempt);
}
qint64 APMPersistedConfig::searchAdRetryCount()
{
    return int64ForKey(kSearchAdRetries);
}
void APMPersistedConfig::setSearchAdRetryCount(qint64 value)
{
    setInt64(value, kSearchAdRetries);
}
QString APMPersistedConfig::appInstanceID()
{
    return stringForKey(kAppInstanceID);
}
void APMPersistedConfig::setAppInstanceID(const QString& value)
{
    setString(value, kAppInstanceID);
}
QString APMPersistedConfig::appIDFromVMP()
{
    return stringForKey(kVMPAppID);
}
void APMPersistedConfig::setAppIDFromVMP(const QString& value)
{
    setString(value, kVMPAppID);
}
QString APMPersistedConfig::appIDFromAdNest()
{
    return stringForKey(kAdNestAppID);
}
void APMPersistedConfig::setAppIDFromAdNest(const QString& value)
{
    setString(value, kAdNestAppID);
}
QString APMPersistedConfig::hashedResettableDeviceID()
{
    return stringForKey(kHashedIDFA);
}
void APMPersistedConfig::setHashedResettableDeviceID(const QString& value)
{
    setString(value, kHashedIDFA);
}
QString APMPersistedConfig::diversionKey()
{
    return stringForKey(kDiversionKey);
}
void APMPersistedConfig::setDiversionKey(const QString& value)
{
    setString(value, kDiversionKey);
}

qint64 APMPersistedConfig::measurementEnabledState()
{
    return int64ForKey(kMeasurementEnabledState, *sharedUserDefaults_);
}

void APMPersistedConfig::setMeasurementEnabledState(qint64 value)
{
    QMutexLocker lock(&state_->accessMutex);
    sharedUserDefaults_->setInteger(value, kMeasurementEnabledState);
    sharedUserDefaults_->synchronize();
}

double APMPersistedConfig::lastBackoffTimestamp()
{
    return doubleForKey(kLastBackoff);
}
void APMPersistedConfig::setLastBackoffTimestamp(double value)
{
    setDouble(value, kLastBackoff);
}
double APMPersistedConfig::lastSuccessfulUploadTimestamp()
{
    return doubleForKey(kLastSuccessfulUpload);
}
void APMPersistedConfig::setLastSuccessfulUploadTimestamp(double value)
{
    setDouble(value, kLastSuccessfulUpload);
}
double APMPersistedConfig::lastFailedUploadTimestamp()
{
    return doubleForKey(kLastFailedUpload);
}
void APMPersistedConfig::setLastFailedUploadTimestamp(double value)
{
    setDouble(value, kLastFailedUpload);
}
QString APMPersistedConfig::appVersion()
{
    return stringForKey(kAppVersion);
}
void APMPersistedConfig::setAppVersion(const QString& value)
{
    setString(value, kAppVersion);
}
QString APMPersistedConfig::osVersion()
{
    return stringForKey(kOSVersion);
}
void APMPersistedConfig::setOSVersion(const QString& value)
{
    setString(value, kOSVersion);
}

double APMPersistedConfig::midnightOffset()
{
    double offset = 0.0;
    {
        // Read and first write under one lock, so two first readers cannot
        // draw two different offsets.
        QMutexLocker lock(&state_->accessMutex);
        const QVariant stored = state_->store->objectForKey(kMidnightOffset);
        if (APMConfigStore::isNumber(stored))
            return stored.toDouble();
        offset = QRandomGenerator::global()->bounded(kMillisecondsPerDay) / 1000.0;
        state_->store->setDouble(offset, kMidnightOffset);
    }
    scheduleSynchronizeToDisk();
    return offset;
}

double APMPersistedConfig::lastMonitorDataSampledTimestamp()
{
    return doubleForKey(kLastMonitorDataSampled);
}
void APMPersistedConfig::setLastMonitorDataSampledTimestamp(double value)
{
    setDouble(value, kLastMonitorDataSampled);
}
qint64 APMPersistedConfig::firstOpenTimestampMilliseconds()
{
    return int64ForKey(kFirstOpenTimestampMs);
}
void APMPersistedConfig::setFirstOpenTimestampMilliseconds(qint64 value)
{
    setInt64(value, kFirstOpenTimestampMs);
}

QString APMPersistedConfig::configServerLastModifiedString()
{
    const QVariant raw = rawObject(kLastModifiedSince);
    return raw.metaType().id() == QMetaType::QString ? raw.toString() : QString();
}

void APMPersistedConfig::setConfigServerLastModifiedString(const QString& value)
{
    setString(value, kLastModifiedSince);
}

QString APMPersistedConfig::configServerETag()
{
    return stringForKey(kConfigETag);
}
void APMPersistedConfig::setConfigServerETag(const QString& value)
{
    setString(value, kConfigETag);
}
QVariant APMPersistedConfig::loadTimestampValue()
{
    return rawObject(kLoadTimestamp);
}
void APMPersistedConfig::setLoadTimestampValue(const QVariant& value)
{
    storeObject(value, kLoadTimestamp);
}
QVariant APMPersistedConfig::allowPersonalizedAds()
{
    return rawObject(kAllowPersonalizedAds);
}
void APMPersistedConfig::setAllowPersonalizedAds(const QVariant& value)
{
    storeObject(value, kAllowPersonalizedAds);
}
QString APMPersistedConfig::basaltFeatureRollouts()
{
    return stringForKey(kFeatureRollouts);
}
void APMPersistedConfig::setBasaltFeatureRollouts(const QString& value)
{
    setString(value, kFeatureRollouts);
}
QVariant APMPersistedConfig::deferredDeepLinkRetrievalComplete()
{
    return rawObject(kDeepLinkRetrievalComplete);
}
void APMPersistedConfig::setDeferredDeepLinkRetrievalComplete(const QVariant& value)
{
    storeObject(value, kDeepLinkRetrievalComplete);
}
qint64 APMPersistedConfig::deferredDeepLinkRetryCount()
{
    return int64ForKey(kDeepLinkRetryCount);
}
void APMPersistedConfig::setDeferredDeepLinkRetryCount(qint64 value)
{
    setInt64(value, kDeepLinkRetryCount);
}

bool APMPersistedConfig::shouldSetLastAdvertisingIDResetUserProperty()
{
    return int64ForKey(kSetLastAdvertisingIDReset) != 0;
}

void APMPersistedConfig::setShouldSetLastAdvertisingIDResetUserProperty(bool value)
{
    setInt64(value ? 1 : 0, kSetLastAdvertisingIDReset);
}

bool APMPersistedConfig::unmatchedFirstOpenWithoutIDFA()
{
    return int64ForKey(kUnmatchedFirstOpen) != 0;
}
void APMPersistedConfig::setUnmatchedFirstOpenWithoutIDFA(bool value)
{
    setInt64(value ? 1 : 0, kUnmatchedFirstOpen);
}
QVariant APMPersistedConfig::previousFirstOpenCount()
{
    return numberForKey(kPreviousFirstOpenCount);
}
void APMPersistedConfig::setPreviousFirstOpenCount(const QVariant& value)
{
    setNumber(value, kPreviousFirstOpenCount);
}
QString APMPersistedConfig::previousBundledConsentSignals()
{
    return stringForKey(kPreviousBundledConsentSignals);
}
void APMPersistedConfig::setPreviousBundledConsentSignals(const QString& value)
{
    setString(value, kPreviousBundledConsentSignals);
}
double APMPersistedConfig::lastSessionActivityClockTime()
{
    return doubleForKey(kLastEngagementEnd);
}
void APMPersistedConfig::setLastSessionActivityClockTime(double value)
{
    setDouble(value, kLastEngagementEnd);
}
qint64 APMPersistedConfig::sessionNumber()
{
    return int64ForKey(kSessionNumber);
}
void APMPersistedConfig::setSessionNumber(qint64 value)
{
    setInt64(value, kSessionNumber);
}
std::optional<QVariantMap> APMPersistedConfig::defaultEventParameters()
{
    return dictionaryForKey(kDefaultEventParameters);
}
void APMPersistedConfig::setDefaultEventParameters(const std::optional<QVariantMap>& value)
{
    setDictionary(value, kDefaultEventParameters);
}
qint64 APMPersistedConfig::lastUploadedEventTimestampMillis()
{
    return int64ForKey(kLastUploadedEventMillis);
}
void APMPersistedConfig::setLastUploadedEventTimestampMillis(qint64 value)
{
    setInt64(value, kLastUploadedEventMillis);
}
qint64 APMPersistedConfig::SKANEvaluationEventTimeMillis()
{
    return int64ForKey(kSKANEvaluationEventTimeMillis);
}
void APMPersistedConfig::setSKANEvaluationEventTimeMillis(qint64 value)
{
    setInt64(value, kSKANEvaluationEventTimeMillis);
}
qint64 APMPersistedConfig::SKANEvaluationUpdateBackoffMillis()
{
    return int64ForKey(kSKANEvaluationUpdateBackoffMillis);
}
void APMPersistedConfig::setSKANEvaluationUpdateBackoffMillis(qint64 value)
{
    setInt64(value, kSKANEvaluationUpdateBackoffMillis);
}

bool APMMigratePreferencesPlist(const QString& suiteName)
{
    if (suiteName.isEmpty())
        return false;
    const QString oldPath = APMPreferencesPlistPath(suiteName);
    const QString newPath = APMApplicationSupportPlistPath(suiteName);
    if (oldPath.isEmpty() || newPath.isEmpty())
        return false;
    const QFileInfo oldInfo(oldPath);
    if (!oldInfo.exists())
        return true;
    if (oldInfo.isDir())
        return false;
    const QFileInfo newInfo(newPath);
    if (newInfo.exists()) {
        if (newInfo.isDir())
            return false;
        return APMDeleteFileAtPath(oldPath, nullptr);
    }
    return QDir().mkpath(newInfo.absolutePath()) && QFile::rename(oldPath, newPath);
}
