#include "analytics/base/APMScheduler.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"
#include "platform/MainQueue.h"

namespace {
const QString kMainThreadMessage = QStringLiteral("Method %1 should execute on background thread");
const QString kEmptyMethodName = QStringLiteral("<empty method name>");
} // namespace

bool APMScheduler::checkOnBackgroundThreadWithMethodName(const QString& methodName)
{
    if (!platform::MainQueue::isMainThread())
        return true;
    APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 30001,
        kMainThreadMessage.arg(methodName.isEmpty() ? kEmptyMethodName : methodName));
    return false;
}
