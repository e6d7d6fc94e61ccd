#include "analytics/experiments/APMEManager.h"

#include "analytics/experiments/APMEClient.h"
#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

namespace experiment_manager {

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

// Runs a callback and logs, instead of passing on, what it throws.
void runCatching(const std::function<void()>& callback, qint64 code, const QString& message)
{
    try {
        callback();
    } catch (const std::exception& exception) {
        APMEManager::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, code, message, QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        APMEManager::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, code, message, QStringLiteral("unknown exception"));
    }
}

// A snapshot as a log context: its experiment ids.
QVariant snapshotContext(const APMESnapshot& snapshot)
{
    QVariantList ids;
    for (qint64 id : snapshot.experimentIDs())
        ids << id;
    return ids;
}

const QString kAsyncExceptionMessage = QStringLiteral("Exception on async Experimentation serial queue");
const QString kSyncExceptionMessage = QStringLiteral("Exception on sync Experimentation serial queue");

} // namespace experiment_manager

using experiment_manager::isFlagValue;

const QString APMEManager::kSerialQueueLabel = QStringLiteral("APMEExperimentSerialQueue");

std::shared_ptr<APMEManager> APMEManager::sharedInstance()
{
    static const std::shared_ptr<APMEManager> instance = std::make_shared<APMEManager>();
    return instance;
}

APMEMonitor& APMEManager::monitor()
{
    static APMEMonitor instance(APMLibrary::monitor());
    return instance;
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

APMEManager::APMEManager(platform::Clock& clock, platform::Executor* noticeQueue)
    : clock_(clock)
    , noticeQueue_(noticeQueue)
    , queue_(std::make_unique<platform::SerialQueue>(kSerialQueueLabel))
{
}

APMEManager::APMEManager()
    : APMEManager(platform::Clock::system())
{
}

APMEManager::~APMEManager()
{
    // The last owner may let go inside one of the queue's own tasks; the
    // queue cannot wait for its own thread, so another thread does.
    if (queue_->isCurrent())
        std::thread([queue = std::move(queue_)]() mutable { queue.reset(); }).detach();
}

std::shared_ptr<APMEManager> APMEManager::initWithTaskManager(
    platform::Clock& clock, std::shared_ptr<APMETaskManager> taskManager, platform::Executor* noticeQueue)
{
    auto manager = std::make_shared<APMEManager>(clock, noticeQueue);
    manager->taskManager_ = std::move(taskManager);
    if (manager->taskManager_) {
        manager->taskManager_->setDelegate(manager);
        manager->taskManager_->startTaskManager();
    }
    return manager;
}

void APMEManager::dispatchAsyncOnSerialQueue(std::function<void()> callback)
{
    queue_->async([callback = std::move(callback)] {
        experiment_manager::runCatching(callback, 800017, experiment_manager::kAsyncExceptionMessage);
    });
}

void APMEManager::dispatchSyncOnSerialQueue(const std::function<void()>& callback)
{
    queue_->sync(
        [&callback] { experiment_manager::runCatching(callback, 800018, experiment_manager::kSyncExceptionMessage); });
}

void APMEManager::dispatchAsyncWhileAlive(std::function<void(APMEManager&)> step)
{
    dispatchAsyncOnSerialQueue([weak = weak_from_this(), step = std::move(step)] {
        if (const auto self = weak.lock())
            step(*self);
    });
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
    dispatchAsyncWhileAlive([client, property, defaultFlags, name](APMEManager& self) {
        if (self.clients_.contains(name)) {
            monitor().logWithLevel(APMMonitor::kLevelWarning, 800003,
                QStringLiteral(
                    "Registered an SDK that has already registered. Default flags will be overwritten. SDK name"),
                name);
        }
        self.clients_.insert(name, client);
        self.defaultFlags_.insert(name, defaultFlags);
        if (self.taskManager_ && self.taskManager_->requestBuilder())
            self.taskManager_->requestBuilder()->addSDKProperty(property);
        monitor().logWithLevel(APMMonitor::kLevelVerbose, 800005, QStringLiteral("Registered client"), name);
    });
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
    if (name.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800007, QStringLiteral("Cannot find the client for empty SDK Name"));
        return nullptr;
    }
    std::shared_ptr<APMEClient> client;
    const_cast<APMEManager*>(this)->dispatchSyncOnSerialQueue([&] { client = clients_.value(name); });
    return client;
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
    const_cast<APMEManager*>(this)->dispatchSyncOnSerialQueue([&] {
        if (!clients_.contains(sdkName)) {
            monitor().logWithLevel(
                APMMonitor::kLevelWarning, 800012, QStringLiteral("SDK is not registered yet"), sdkName);
            return;
        }
        const auto defaults = defaultFlags_.constFind(sdkName);
        if (defaults == defaultFlags_.constEnd()) {
            monitor().logWithLevel(APMMonitor::kLevelWarning, 800013,
                QStringLiteral("Cannot get flag for unregistered SDK. SDK name, flag name"), sdkName, flagName);
            return;
        }
        if (const auto it = activated_.constFind(sdkName); it != activated_.constEnd()) {
            monitor().logWithLevel(APMMonitor::kLevelVerbose, 800015,
                QStringLiteral("Looking for activated flag. SDK name, flag name, activated snapshot"), sdkName,
                flagName, experiment_manager::snapshotContext(*it));
            value = it->flagByName(flagName);
            if (value.isValid())
                return;
        }
        if (const auto it = launched_.constFind(sdkName); it != launched_.constEnd()) {
            monitor().logWithLevel(APMMonitor::kLevelVerbose, 800016,
                QStringLiteral("Cannot find activated flag. Looking for launched flag. SDK name, flag name, "
                               "launched flag"),
                sdkName, flagName, experiment_manager::snapshotContext(*it));
            value = it->flagByName(flagName);
            if (value.isValid())
                return;
        }
        value = defaults->value(flagName);
        if (value.isValid()) {
            monitor().logWithLevel(APMMonitor::kLevelVerbose, 800019,
                QStringLiteral("Cannot find launched flag. Returned the default flag value. SDK name, flag name, "
                               "default flag"),
                sdkName, flagName, value);
        } else {
            monitor().logWithLevel(APMMonitor::kLevelVerbose, 800014,
                QStringLiteral("No default flag value. SDK name, flag name"), sdkName, flagName);
        }
    });
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
    bool activatedOne = false;
    dispatchSyncOnSerialQueue([&] {
        const auto pending = pending_.constFind(sdkName);
        if (pending == pending_.constEnd()) {
            monitor().logWithLevel(APMMonitor::kLevelWarning, 800023,
                QStringLiteral("No pending snapshot to activate. SDK name"), sdkName);
            return;
        }
        const double now = clock_.now();
        APMESnapshot activated(sdkName, now);
        for (const APMEExperiment& experiment : pending->experiments()) {
            if (experiment.experimentID() == 0) {
                APMESnapshot launched(sdkName, now);
                launched.setExperiment(experiment);
                launched_.insert(sdkName, launched);
            } else {
                activated.setExperiment(experiment);
            }
        }
        activated_.insert(sdkName, activated);
        const APMESnapshot stored = *pending;
        pending_.erase(pending);
        if (taskManager_)
            taskManager_->activatePendingSnapshot(stored, now);
        activatedOne = true;
    });
    if (activatedOne) {
        monitor().logWithLevel(
            APMMonitor::kLevelVerbose, 800028, QStringLiteral("Successfully activated a snapshot of SDK"), sdkName);
    }
    return activatedOne;
}

QList<qint64> APMEManager::experimentIDs() const
{
    QList<qint64> ids;
    const_cast<APMEManager*>(this)->dispatchSyncOnSerialQueue([&] {
        for (auto client = clients_.constBegin(); client != clients_.constEnd(); ++client) {
            // An SDK with a diversion key of its own is not part of the
            // measurement's experiments.
            const auto& property = client.value()->SDKProperty();
            if (property && !property->diversionKey().isNull())
                continue;
            if (const auto snapshot = activated_.constFind(client.key()); snapshot != activated_.constEnd())
                ids << snapshot->experimentIDs();
        }
    });
    std::sort(ids.begin(), ids.end());
    return ids;
}

void APMEManager::reset()
{
    dispatchAsyncWhileAlive([](APMEManager& self) {
        if (self.taskManager_)
            self.taskManager_->reset();
        self.activated_.clear();
        self.pending_.clear();
        self.launched_.clear();
    });
}

void APMEManager::clearAndDelete()
{
    dispatchAsyncWhileAlive([](APMEManager& self) {
        if (self.taskManager_)
            self.taskManager_->clearAndDelete();
        self.activated_.clear();
        self.pending_.clear();
        self.launched_.clear();
    });
}

APMEManager::SnapshotStatus APMEManager::activatedSnapshotStatusOfSDKName(const QString& sdkName) const
{
    if (sdkName.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800024, QStringLiteral("Cannot check activated snapshot for empty SDK Name"));
        return kSnapshotStatusUnknownSDK;
    }
    SnapshotStatus status = kSnapshotStatusUnknownSDK;
    const_cast<APMEManager*>(this)->dispatchSyncOnSerialQueue([&] {
        if (!clients_.contains(sdkName))
            return;
        const auto it = activated_.constFind(sdkName);
        if (it == activated_.constEnd() || it->timestamp() <= std::numeric_limits<double>::epsilon()) {
            status = kSnapshotStatusNoSnapshot;
            return;
        }
        status = std::abs(clock_.now() - it->timestamp()) > kStaleSnapshotAge ? kSnapshotStatusStale
                                                                              : kSnapshotStatusFresh;
    });
    return status;
}

void APMEManager::resetToDefaultsOfSDKName(const QString& sdkName)
{
    if (sdkName.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelError, 800025, QStringLiteral("Cannot reset to defaults for empty SDK Name"));
        return;
    }
    dispatchSyncOnSerialQueue([&] {
        if (activated_.remove(sdkName) == 0) {
            monitor().logWithLevel(APMMonitor::kLevelError, 800026,
                QStringLiteral("Cannot reset to defaults for unregistered SDK name"), sdkName);
            return;
        }
        if (taskManager_)
            taskManager_->resetToDefaultsForSDKName(sdkName);
        monitor().logWithLevel(APMMonitor::kLevelVerbose, 800027,
            QStringLiteral("Reset all experiments to default. SDK name"), sdkName);
    });
}

void APMEManager::taskManagerDidStartWithSnapshots(
    const QList<APMESnapshot>& activated, const QList<APMESnapshot>& pending, const QList<APMESnapshot>& launched)
{
    dispatchAsyncWhileAlive([activated, pending, launched](APMEManager& self) {
        // Copies taken now: a snapshot loaded at start is not stale.
        const double now = self.clock_.now();
        auto fresh = [now](APMESnapshot snapshot) {
            snapshot.setTimestamp(now);
            snapshot.setManuallyActivated(false);
            return snapshot;
        };
        for (const APMESnapshot& snapshot : activated)
            self.activated_.insert(snapshot.sdkName(), fresh(snapshot));
        for (const APMESnapshot& snapshot : pending)
            self.pending_.insert(snapshot.sdkName(), fresh(snapshot));
        for (const APMESnapshot& snapshot : launched)
            self.launched_.insert(snapshot.sdkName(), fresh(snapshot));
    });
}

void APMEManager::notifyNewSnapshot(
    const std::shared_ptr<APMEClient>& client, const std::shared_ptr<APMEExperimentObserverDelegate>& delegate)
{
    platform::Executor* queue = delegate->queue();
    if (!queue)
        queue = noticeQueue_ ? noticeQueue_ : &platform::MainQueue::shared();
    queue->async([client, observer = std::weak_ptr<APMEExperimentObserverDelegate>(delegate)] {
        if (const auto delegate = observer.lock()) {
            experiment_manager::runCatching([&] { delegate->clientDidReceiveNewSnapshot(*client); }, 800017,
                experiment_manager::kAsyncExceptionMessage);
        }
    });
}

void APMEManager::taskManagerDidUpsertPendingSnapshots(const QList<APMESnapshot>& snapshots)
{
    for (const APMESnapshot& snapshot : snapshots) {
        const auto client = clientForSDKName(snapshot.sdkName());
        // The observer is held weakly: locked once, so the one checked is the
        // one notified even when its owner lets it go meanwhile.
        const auto delegate = client ? client->delegate() : nullptr;
        if (!delegate) {
            monitor().logWithLevel(APMMonitor::kLevelError, 800021,
                QStringLiteral("Cannot notify new snapshot for SDK because the delegate does not implement "
                               "-clientDidReceiveNewSnapshot:"),
                snapshot.sdkName());
            continue;
        }
        notifyNewSnapshot(client, delegate);
    }
}

bool APMEManager::taskManagerShouldFetchExperiments() const
{
    QList<std::shared_ptr<APMEClient>> clients;
    const_cast<APMEManager*>(this)->dispatchSyncOnSerialQueue([&] { clients = clients_.values(); });
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
    dispatchAsyncWhileAlive([snapshots, errors](APMEManager& self) {
        QList<APMESnapshot> marked;
        for (APMESnapshot snapshot : snapshots) {
            snapshot.setManuallyActivated(false);
            const auto client = self.clients_.value(snapshot.sdkName());
            // An SDK with an observer activates its snapshot itself; any
            // other is activated at the next start.
            if (client && client->delegate()) {
                snapshot.setManuallyActivated(true);
                marked.append(snapshot);
            }
            self.pending_.insert(snapshot.sdkName(), snapshot);
        }
        // Observers hear of the snapshots once they are stored with the
        // mark; without a fetch task there is nothing to store first. This
        // comes before the error notices, so an observer that throws there
        // cannot keep the marks from being stored.
        if (!marked.isEmpty()) {
            if (self.taskManager_)
                self.taskManager_->upsertPendingSnapshots(marked);
            else
                self.taskManagerDidUpsertPendingSnapshots(marked);
        }
        for (auto it = errors.constBegin(); it != errors.constEnd(); ++it) {
            const auto client = self.clients_.value(it.key());
            if (const auto delegate = client ? client->delegate() : nullptr)
                delegate->client(*client, &it.value());
        }
    });
}
