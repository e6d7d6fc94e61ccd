#include "analytics/rules/APMPMessageLogger.h"

#include "analytics/rules/APMPLoggerDelegate.h"

#include <utility>

const QString APMPMessageLogger::kFunctionName = QStringLiteral("internal.logger");

APMPMessageLogger::APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger)
    : logger_(std::move(logger))
{
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
