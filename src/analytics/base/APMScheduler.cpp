#include "analytics/base/APMScheduler.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <exception>

namespace {
const QString kMainThreadMessage = QStringLiteral("Method %1 should execute on background thread");
const QString kEmptyMethodName = QStringLiteral("<empty method name>");
const QString kAsyncExceptionMessage = QStringLiteral("Exception on worker queue. Block ID=%1. Exception");
const QString kSyncExceptionMessage
    = QStringLiteral("Exception on worker queue when processing sync block. Block ID=%1. Exception");
const QString kSyncFailedMessage = QStringLiteral("Synchronous task failed. Block ID=%1");
const QString kNilAsyncBlockMessage
    = QStringLiteral("Nil block dispatched asynchronously on worker queue. Block ID=%1.");
const QString kNilSyncBlockMessage = QStringLiteral("Nil block dispatched synchronously on worker queue. Block ID=%1.");

// Runs the work; true when it returned normally.
bool runGuarded(const std::function<void()>& block, qint64 code, const QString& message, const QString& blockID)
{
    try {
        block();
        return true;
    } catch (const std::exception& exception) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, code, message.arg(blockID), QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, code, message.arg(blockID), QStringLiteral("unknown exception"));
    }
    return false;
}
} // namespace

bool APMScheduler::checkOnBackgroundThreadWithMethodName(const QString& methodName)
{
    if (!platform::MainQueue::isMainThread())
        return true;
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 30001,
        kMainThreadMessage.arg(methodName.isEmpty() ? kEmptyMethodName : methodName));
    return false;
}

APMScheduler::APMScheduler(const QString& workerQueueLabel)
    : workerQueue_(std::make_unique<platform::SerialQueue>(workerQueueLabel))
{
}

APMScheduler::~APMScheduler() = default;

void APMScheduler::scheduleOnWorkerQueueBlockID(const QString& blockID, std::function<void()> block)
{
    if (!block) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 30005, kNilAsyncBlockMessage.arg(blockID));
        return;
    }
    workerQueue_->async([blockID, block = std::move(block)] { runGuarded(block, 30000, kAsyncExceptionMessage, blockID); });
}

void APMScheduler::dispatchSyncOnWorkerQueueBlockID(const QString& blockID, const std::function<void()>& block)
{
    if (!block) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 30002, kNilSyncBlockMessage.arg(blockID));
        return;
    }
    bool completed = false;
    workerQueue_->sync([&] { completed = runGuarded(block, 30003, kSyncExceptionMessage, blockID); });
    if (!completed)
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 30004, kSyncFailedMessage.arg(blockID));
}

bool APMScheduler::isOnWorkerQueue() const
{
    return workerQueue_->isCurrent();
}
