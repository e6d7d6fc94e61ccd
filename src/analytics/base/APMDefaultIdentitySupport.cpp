#include "analytics/base/APMDefaultIdentitySupport.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPlatformIdentitySupport.h"
#include "platform/SerialQueue.h"
#include "platform/TrackingAuthorization.h"

#include <QUuid>

#include <chrono>
#include <condition_variable>
#include <mutex>

const QString APMDefaultIdentitySupport::kQueueName = QStringLiteral("APMDefaultIdentitySupport");
const QString APMDefaultIdentitySupport::kVendorIdentifierKey = QStringLiteral("/vireo/measurement/vendor_identifier");

namespace {

// Set by the question once it has an answer; the caller waits on it.
struct IdentifierAnswered {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
};

} // namespace

APMDefaultIdentitySupport& APMDefaultIdentitySupport::sharedInstance()
{
    static APMDefaultIdentitySupport* shared // lives with the process
        = new APMDefaultIdentitySupport(&APMPlatformIdentitySupport::sharedInstance(), APMLibrary::monitor());
    return *shared;
}

APMDefaultIdentitySupport::APMDefaultIdentitySupport(const APMIdentitySupport* platformSupport, APMMonitor& monitor)
    : platformSupport_(platformSupport)
    , cache_(std::make_shared<Cache>())
{
    if (platformSupport_) {
        monitor.logWithLevel(APMMonitor::kLevelDebug, 44000,
            QStringLiteral("VireoAppMetricsIdentitySupport dependency is linked."));
        if (platformSupport_->hasLimitedAdTracking())
            monitor.logWithLevel(APMMonitor::kLevelDebug, 44001, QStringLiteral("The AdSupport Framework is linked."));
        else
            monitor.logWithLevel(APMMonitor::kLevelWarningMonitored, 44002,
                QStringLiteral("The AdSupport Framework is not currently linked. Some features will not function "
                               "properly. See the README for the advertising identifier on this system."));
    } else {
        monitor.logWithLevel(APMMonitor::kLevelWarningMonitored, 44003,
            QStringLiteral("VireoAppMetricsIdentitySupport dependency is not currently linked. IDFA will not be "
                           "accessible."));
    }
    queue_ = std::make_unique<platform::SerialQueue>(kQueueName);
}

APMDefaultIdentitySupport::~APMDefaultIdentitySupport() = default;

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() const
{
    return platformSupport_ && platformSupport_->hasAppDataConsentStatus();
}

quint64 APMDefaultIdentitySupport::appDataConsentStatus() const
{
    return platformSupport_ ? platformSupport_->appDataConsentStatus() : platform::TrackingAuthorization::kStatusUnavailable;
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() const
{
    return platformSupport_ && platformSupport_->hasLimitedAdTracking();
}

bool APMDefaultIdentitySupport::limitedAdTracking() const
{
    const std::optional<QString> identifier = resettableDeviceID();
    return !identifier || *identifier == platform::TrackingAuthorization::kZeroIdentifier;
}

std::optional<QString> APMDefaultIdentitySupport::resettableDeviceID() const
{
    if (!platformSupport_)
        return std::nullopt;
    const auto answered = std::make_shared<IdentifierAnswered>();
    const std::weak_ptr<Cache> weakCache = cache_;
    const APMIdentitySupport* source = platformSupport_;
    queue_->async([weakCache, source, answered] {
        const std::optional<QString> identifier = source->resettableDeviceID();
        if (const std::shared_ptr<Cache> cache = weakCache.lock()) {
            QMutexLocker lock(&cache->mutex);
            cache->resettableDeviceID = identifier;
        }
        std::lock_guard lock(answered->mutex);
        answered->done = true;
        answered->changed.notify_all();
    });
    {
        std::unique_lock lock(answered->mutex);
        answered->changed.wait_for(
            lock, std::chrono::milliseconds(kIdentifierWaitMilliseconds), [&] { return answered->done; });
    }
    QMutexLocker lock(&cache_->mutex);
    return cache_->resettableDeviceID;
}

QString APMDefaultIdentitySupport::identifierForVendor(APMPersistedConfig& persistedConfig)
{
    // Two first callers at once must not each store an identifier of their own.
    static QMutex creation;
    QMutexLocker lock(&creation);
    QString identifier = persistedConfig.stringForKey(kVendorIdentifierKey);
    if (QUuid::fromString(identifier).isNull()) {
        identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        persistedConfig.setString(identifier, kVendorIdentifierKey);
    }
    return identifier;
}
