#include "analytics/rules/APMPMessageLogger.h"

#include "analytics/rules/APMPFunctionLog.h"
#include "analytics/rules/APMPFunctionLogSilent.h"
#include "analytics/rules/APMPFunctionLogUnmonitored.h"
#include "analytics/rules/APMPLoggerDelegate.h"
#include "analytics/rules/APMPUndefinedValue.h"

#include <utility>

const QString APMPMessageLogger::kFunctionName = QStringLiteral("internal.logger");

APMPMessageLogger::APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(kFunctionName)
    , logger_(std::move(logger))
{
    setValueForProperty(std::make_shared<APMPFunctionLog>(false, true, logger_), QStringLiteral("log"));
    setValueForProperty(std::make_shared<APMPFunctionLogSilent>(logger_), QStringLiteral("silent"));
    setValueForProperty(std::make_shared<APMPFunctionLogUnmonitored>(logger_), QStringLiteral("unmonitored"));
}

void APMPMessageLogger::log(qint64 level, const QString& message, const QStringList& context)
{
    if (logger_)
        logger_->logWithLevel(level, message, context, false, true);
}

void APMPMessageLogger::logSilent(qint64 level, const QString& message, const QStringList& context)
{
    if (logger_)
        logger_->logWithLevel(level, message, context, true, true);
}

void APMPMessageLogger::logUnmonitored(qint64 level, const QString& message, const QStringList& context)
{
    if (logger_)
        logger_->logWithLevel(level, message, context, false, false);
}

APMPValue APMPMessageLogger::invokeWithArguments(const APMPValueList&, APMPScope&, APMError*)
{
    return APMPUndefinedValue::sharedInstance();
}
