#include "analytics/base/APMEMonitor.h"

#include "analytics/base/APMMonitor.h"

APMEMonitor::APMEMonitor(APMMonitor& monitor)
    : monitor_(monitor)
{
}

void APMEMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message)
{
    monitor_.logWithLevel(level, messageCode, message);
}

void APMEMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context)
{
    monitor_.logWithLevel(level, messageCode, message, context);
}

void APMEMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
    const QVariant& context2)
{
    monitor_.logWithLevel(level, messageCode, message, context1, context2);
}

void APMEMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
    const QVariant& context2, const QVariant& context3)
{
    monitor_.logWithLevel(level, messageCode, message, context1, context2, context3);
}

void APMEMonitor::clearMonitoringData()
{
    monitor_.clearMonitoringData();
}
