#include "analytics/engine/APMEngineContext.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/store/APMDatabase.h"
#include "platform/Clock.h"

APMEngineContext::APMEngineContext(const QString& appID, const QStringList& safelistedEvents,
    bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated, APMMeasurementEnvironment environment)
    : environment(std::move(environment))
    , appID(appID)
    , safelistedEvents(safelistedEvents)
    , isAnalyticsCollectionEnabled(isAnalyticsCollectionEnabled)
    , isAnalyticsCollectionDeactivated(isAnalyticsCollectionDeactivated)
{
}

APMEngineContext::~APMEngineContext() = default;

void APMEngineContext::log(qint64 level, qint64 code, const QString& message) const
{
    environment.monitor->logWithLevel(level, code, message);
}

void APMEngineContext::log(qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment.monitor->logWithLevel(level, code, message, context);
}

void APMEngineContext::log(
    qint64 level, qint64 code, const QString& message, const QVariant& context1, const QVariant& context2) const
{
    environment.monitor->logWithLevel(level, code, message, context1, context2);
}

bool APMEngineContext::isDebugMode() const
{
    return environment.monitor->isDebugModeEnabled();
}

double APMEngineContext::now() const
{
    return environment.clock->now();
}

double APMEngineContext::bootClock() const
{
    return environment.clock->monotonic();
}
