#include "analytics/rules/APMPixieLogger.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QVariantList>

APMPixieLogger::APMPixieLogger()
    : APMPixieLogger(APMLibrary::monitor())
{
}

APMPixieLogger::APMPixieLogger(APMMonitor& monitor)
    : monitor_(monitor)
{
}

qint64 APMPixieLogger::monitorLevelForRuleLevel(qint64 level, bool silent, bool monitored)
{
    switch (level) {
    case 2:
        return APMMonitor::kLevelVerbose;
    case 3:
        return APMMonitor::kLevelDebug;
    case 5:
        if (silent)
            return APMMonitor::kLevelWarningSilent;
        return monitored ? APMMonitor::kLevelWarningMonitored : APMMonitor::kLevelWarning;
    case 6:
        if (silent)
            return APMMonitor::kLevelErrorSilent;
        return monitored ? APMMonitor::kLevelErrorMonitored : APMMonitor::kLevelError;
    default:
        return APMMonitor::kLevelNotice;
    }
}

void APMPixieLogger::logWithLevel(
    qint64 level, const QString& message, const QStringList& context, bool silent, bool monitored)
{
    QVariantList contexts;
    contexts.reserve(context.size());
    for (const QString& text : context)
        contexts << text;
    monitor_.logWithLevelContexts(
        monitorLevelForRuleLevel(level, silent, monitored), kMessageCode, message, contexts);
}
