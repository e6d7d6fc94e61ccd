#include "analytics/experiments/APMEClient.h"

#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"

#include <utility>

APMEClient::APMEClient(
    std::shared_ptr<APMESDKProperty> property, QVariantMap defaultFlags, std::weak_ptr<APMEManager> manager)
    : property_(std::move(property))
    , defaultFlags_(std::move(defaultFlags))
    , manager_(std::move(manager))
{
}

QString APMEClient::SDKName() const
{
    return property_ ? property_->name() : QString();
}

QVariant APMEClient::valueForFlag(const QString& flagName) const
{
    if (flagName.isEmpty()) {
        APMEManager::monitor().logWithLevel(
            APMMonitor::kLevelError, 830002, QStringLiteral("Cannot get value for empty flag name"));
        return QVariant();
    }
    const std::shared_ptr<APMEManager> manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(flagName, SDKName()) : QVariant();
}

QVariant APMEClient::objectForKeyedSubscript(const QVariant& key) const
{
    if (key.typeId() != QMetaType::QString) {
        APMEManager::monitor().logWithLevel(APMMonitor::kLevelError, 830003,
            QStringLiteral("Cannot get flag value of an invalid flag name"), key);
        return QVariant();
    }
    return valueForFlag(key.toString());
}

bool APMEClient::activateLatestSnapshot(APMError* error)
{
    const std::shared_ptr<APMEManager> manager = manager_.lock();
    return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool APMEClient::hasStaleSnapshot() const
{
    const std::shared_ptr<APMEManager> manager = manager_.lock();
    return manager
        && manager->activatedSnapshotStatusOfSDKName(SDKName()) == APMEManager::kSnapshotStatusStale;
}

std::shared_ptr<APMEExperimentObserverDelegate> APMEClient::delegate() const
{
    QMutexLocker lock(&mutex_);
    return delegate_.lock();
}

void APMEClient::setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate)
{
    QMutexLocker lock(&mutex_);
    delegate_ = std::move(delegate);
}
