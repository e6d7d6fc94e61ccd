#include "analytics/audience/APMEManager.h"

#include "analytics/audience/APMEClient.h"
#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "analytics/audience/APMESDKProperty.h"
#include "analytics/audience/APMEExperimentRequestBuilder.h"
#include "analytics/audience/APMETaskManager.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

bool isFlagValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

std::shared_ptr<APMEManager> APMEManager::sharedInstance()
{
    static const std::shared_ptr<APMEManager> instance = std::make_shared<APMEManager>();
    return instance;
}

APMMonitor& APMEManager::monitor()
{
    return APMLibrary::monitor();
}

qint64 APMEManager::versionFromVersionString(const QString& versionString)
{
    if (versionString.size() < 4)
        return 0;
    return versionString.chopped(3).toLongLong();
}

qint64 APMEManager::version()
{
    return versionFromVersionString(QStringLiteral("10000000"));
}

APMEManager::APMEManager(platform::Clock& clock)
    : clock_(clock)
{
}

APMEManager::APMEManager()
    : APMEManager(platform::Clock::system())
{
}

std::shared_ptr<APMEManager> APMEManager::initWithTaskManager(
    platform::Clock& clock, std::shared_ptr<APMETaskManager> taskManager)
{
    auto manager = std::make_shared<APMEManager>(clock);
    manager->taskManager_ = std::move(taskManager);
    if (manager->taskManager_) {
        manager->taskManager_->setDelegate(manager);
        manager->taskManager_->startTaskManager();
    }
    return manager;
}

std::shared_ptr<APMEClient> APMEManager::registerSDKProperty(
    const std::shared_ptr<APMESDKProperty>& property, const QVariantMap& defaultFlags)
{
    if (!property) {
        monitor().logWithLevel(APMMonitor::kLevelError, 800000,
            QStringLiteral("Cannot register client with a nil SDK property"));
        return nullptr;
    }
    const QString name = property->name();
    if (name.isEmpty()) {
        monitor().logWithLevel(APMMonitor::kLevelError, 800001,
            QStringLiteral("Cannot register experiment client with no SDK name"));
        return nullptr;
    }
    for (auto it = defaultFlags.constBegin(); it != defaultFlags.constEnd(); ++it) {
        if (it.key().isEmpty() || !isFlagValue(it.value())) {
            monitor().logWithLevel(APMMonitor::kLevelError, 800002,
                QStringLiteral("Cannot register experiment client invalid flags. Flag name, value"), it.key(),
                it.value());
            return nullptr;
        }
    }
    auto client = std::make_shared<APMEClient>(property, defaultFlags, weak_from_this());
    bool replaced = false;
    {
        QMutexLocker lock(&mutex_);
        replaced = clients_.contains(name);
        clients_.insert(name, client);
        defaultFlags_.insert(name, defaultFlags);
    }
    if (replaced) {
        monitor().logWithLevel(APMMonitor::kLevelWarning, 800003,
            QStringLiteral(
                "Registered an SDK that has already registered. Default flags will be overwritten. SDK name"),
            name);
    }
    if (taskManager_ && taskManager_->requestBuilder())
        taskManager_->requestBuilder()->addSDKProperty(property);
    monitor().logWithLevel(APMMonitor::kLevelVerbose, 800005, QStringLiteral("Registered client"), name);
    return client;
}

std::shared_ptr<APMExperimentFlagClient> APMEManager::registerSDK(const QString& name, qint64 version,
    std::weak_ptr<APMESDKPropertyProviderDelegate> propertyProvider, const QVariantMap& defaultFlags)
{
    auto property = std::make_shared<APMESDKProperty>(name);
    property->setVersion(version);
    property->setDelegate(std::move(propertyProvider));
    return registerSDKProperty(property, defaultFlags);
}

std::shared_ptr<APMEClient> APMEManager::clientForSDKName(const QString& name) const
{
    QMutexLocker lock(&mutex_);
    return clients_.value(name);
}

QVariant APMEManager::flagValueForFlagName(const QString& flagName, const QString& sdkName) const
{
    if (sdkName.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800010, QStringLiteral("Cannot retrieve flag value for empty SDK name"));
        return QVariant();
    }
    if (flagName.isEmpty()) {
        monitor().logWithLevel(APMMonitor::kLevelError, 800011,
            QStringLiteral("Cannot retrieve flag value for empty flag name"));
        return QVariant();
    }
    QVariant value;
    bool registered = false;
    {
        QMutexLocker lock(&mutex_);
        registered = clients_.contains(sdkName);
        if (registered) {
            if (const auto it = activated_.constFind(sdkName); it != activated_.constEnd())
                value = it->flagByName(flagName);
            if (!value.isValid()) {
                if (const auto it = launched_.constFind(sdkName); it != launched_.constEnd())
                    value = it->flagByName(flagName);
            }
            if (!value.isValid())
                value = defaultFlags_.value(sdkName).value(flagName);
        }
    }
    if (!registered) {
        monitor().logWithLevel(
            APMMonitor::kLevelWarning, 800012, QStringLiteral("SDK is not registered yet"), sdkName);
    } else if (!value.isValid()) {
        monitor().logWithLevel(APMMonitor::kLevelVerbose, 800014,
            QStringLiteral("No default flag value. SDK name, flag name"), sdkName, flagName);
    }
    return value;
}

bool APMEManager::activateSnapshotOfSDK(const QString& sdkName, APMError* error)
{
    if (sdkName.isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidArgument, QStringLiteral("SDK name cannot be empty"));
        monitor().logWithLevel(APMMonitor::kLevelWarning, 800022,
            QStringLiteral("Cannot activate a pending snapshot for an empty SDK name"));
        return false;
    }
    {
        QMutexLocker lock(&mutex_);
        const auto pending = pending_.constFind(sdkName);
        if (pending != pending_.constEnd()) {
            const double now = clock_.now();
            APMESnapshot activated(sdkName, now);
            const QMap<qint64, QVariantMap>& experiments = pending->flagsByExperimentID();
            for (auto it = experiments.constBegin(); it != experiments.constEnd(); ++it) {
                if (it.key() == 0) {
                    APMESnapshot launched(sdkName, now);
                    launched.addFlags(it.value(), 0);
                    launched_.insert(sdkName, launched);
                } else {
                    activated.addFlags(it.value(), it.key());
                }
            }
            activated_.insert(sdkName, activated);
            const APMESnapshot stored = *pending;
            pending_.erase(pending);
            lock.unlock();
            if (taskManager_)
                taskManager_->activatePendingSnapshot(stored, now);
            monitor().logWithLevel(APMMonitor::kLevelVerbose, 800028,
                QStringLiteral("Successfully activated a snapshot of SDK"), sdkName);
            return true;
        }
    }
    monitor().logWithLevel(APMMonitor::kLevelWarning, 800023,
        QStringLiteral("No pending snapshot to activate. SDK name"), sdkName);
    return false;
}

QList<qint64> APMEManager::experimentIDs() const
{
    QList<qint64> ids;
    {
        QMutexLocker lock(&mutex_);
        for (const APMESnapshot& snapshot : activated_) {
            if (clients_.contains(snapshot.sdkName()))
                ids << snapshot.experimentIDs();
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

void APMEManager::reset()
{
    if (taskManager_)
        taskManager_->reset();
    QMutexLocker lock(&mutex_);
    activated_.clear();
    pending_.clear();
    launched_.clear();
}

APMEManager::SnapshotStatus APMEManager::activatedSnapshotStatusOfSDKName(const QString& sdkName) const
{
    if (sdkName.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800024, QStringLiteral("Cannot check activated snapshot for empty SDK Name"));
        return kSnapshotStatusUnknownSDK;
    }
    QMutexLocker lock(&mutex_);
    if (!clients_.contains(sdkName))
        return kSnapshotStatusUnknownSDK;
    const auto it = activated_.constFind(sdkName);
    if (it == activated_.constEnd() || it->timestamp() <= std::numeric_limits<double>::epsilon())
        return kSnapshotStatusNoSnapshot;
    return std::abs(clock_.now() - it->timestamp()) > kStaleSnapshotAge ? kSnapshotStatusStale
                                                                        : kSnapshotStatusFresh;
}

void APMEManager::resetToDefaultsOfSDKName(const QString& sdkName)
{
    if (sdkName.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800025, QStringLiteral("Cannot reset to defaults for empty SDK Name"));
        return;
    }
    bool removed = false;
    {
        QMutexLocker lock(&mutex_);
        removed = activated_.remove(sdkName) > 0;
    }
    if (!removed) {
        monitor().logWithLevel(APMMonitor::kLevelError, 800026,
            QStringLiteral("Cannot reset to defaults for unregistered SDK name"), sdkName);
        return;
    }
    if (taskManager_)
        taskManager_->resetToDefaultsForSDKName(sdkName);
    monitor().logWithLevel(
        APMMonitor::kLevelVerbose, 800027, QStringLiteral("Reset all experiments to default. SDK name"), sdkName);
}

void APMEManager::taskManagerDidStartWithSnapshots(
    const QList<APMESnapshot>& activated, const QList<APMESnapshot>& pending, const QList<APMESnapshot>& launched)
{
    // Copies taken now: a snapshot loaded at start is not stale.
    const double now = clock_.now();
    auto fresh = [now](APMESnapshot snapshot) {
        snapshot.setTimestamp(now);
        snapshot.setManuallyActivated(false);
        return snapshot;
    };
    QMutexLocker lock(&mutex_);
    for (const APMESnapshot& snapshot : activated)
        activated_.insert(snapshot.sdkName(), fresh(snapshot));
    for (const APMESnapshot& snapshot : pending)
        pending_.insert(snapshot.sdkName(), fresh(snapshot));
    for (const APMESnapshot& snapshot : launched)
        launched_.insert(snapshot.sdkName(), fresh(snapshot));
}

void APMEManager::taskManagerDidUpsertPendingSnapshots(const QList<APMESnapshot>& snapshots)
{
    for (const APMESnapshot& snapshot : snapshots) {
        const auto client = clientForSDKName(snapshot.sdkName());
        const auto delegate = client ? client->delegate() : nullptr;
        if (!delegate) {
            monitor().logWithLevel(APMMonitor::kLevelError, 800021,
                QStringLiteral("Cannot notify new snapshot for SDK because the delegate does not implement "
                               "-clientDidReceiveNewSnapshot:"),
                snapshot.sdkName());
            continue;
        }
        delegate->clientDidReceiveNewSnapshot(*client);
    }
}

bool APMEManager::taskManagerShouldFetchExperiments() const
{
    QList<std::shared_ptr<APMEClient>> clients;
    {
        QMutexLocker lock(&mutex_);
        clients = clients_.values();
    }
    for (const auto& client : clients) {
        const auto delegate = client->delegate();
        if (!delegate || delegate->shouldFetchExperimentsForClient(*client))
            return true;
    }
    return false;
}

void APMEManager::taskManagerDidFinishFetchingExperimentSnapshotsWithErrors(
    const QList<APMESnapshot>& snapshots, const QMap<QString, APMError>& errors)
{
    if (snapshots.isEmpty() && errors.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelWarning, 800020, QStringLiteral("No pending snapshots to notify the clients"));
        return;
    }
    std::vector<std::shared_ptr<APMEClient>> notified;
    std::vector<std::pair<std::shared_ptr<APMEClient>, APMError>> failed;
    QList<APMESnapshot> marked;
    {
        QMutexLocker lock(&mutex_);
        for (APMESnapshot snapshot : snapshots) {
            snapshot.setManuallyActivated(false);
            const auto client = clients_.value(snapshot.sdkName());
            // An SDK with an observer activates its snapshot itself; any
            // other is activated at the next start.
            if (client && client->delegate()) {
                snapshot.setManuallyActivated(true);
                marked.append(snapshot);
                notified.push_back(client);
            }
            pending_.insert(snapshot.sdkName(), snapshot);
        }
        for (auto it = errors.constBegin(); it != errors.constEnd(); ++it) {
            if (const auto client = clients_.value(it.key()))
                failed.emplace_back(client, it.value());
        }
    }
    if (taskManager_) {
        // Observers hear of the snapshots once they are stored with the mark.
        if (!marked.isEmpty())
            taskManager_->upsertPendingSnapshots(marked);
    } else {
        for (const auto& client : notified) {
            if (const auto delegate = client->delegate())
                delegate->clientDidReceiveNewSnapshot(*client);
        }
    }
    for (const auto& [client, error] : failed) {
        if (const auto delegate = client->delegate())
            delegate->client(*client, &error);
    }
}
