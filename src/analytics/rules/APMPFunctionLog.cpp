#include "analytics/rules/APMPFunctionLog.h"

#include "analytics/rules/APMPLoggerDelegate.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

APMPFunctionLog::APMPFunctionLog(bool silent, bool monitored, std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(QStringLiteral("log"))
    , silent_(silent)
    , monitored_(monitored)
    , logger_(std::move(logger))
{
}

APMPValue APMPFunctionLog::invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    using APMPRuntimeError::failed;
    constexpr qint64 kDefaultRuleLevel = 4;
    constexpr std::size_t kMostContexts = 3;
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error) || !APMPCheckMinimumArgumentCount(values, 1, error))
        return APMPUndefinedValue::sharedInstance();
    qint64 level = kDefaultRuleLevel;
    QString message;
    QStringList context;
    if (values.size() == 1) {
        message = values[0]->stringValueOrError(error);
    } else {
        level = APMPToInt64(APMPToInteger(values[0]->doubleValueOrError(error)));
        if (!failed(error))
            message = values[1]->stringValueOrError(error);
        for (std::size_t i = 2; i < values.size() && i < 2 + kMostContexts && !failed(error); ++i)
            context << values[i]->stringValueOrError(error);
    }
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    if (logger_)
        logger_->logWithLevel(level, message, context, silent_, monitored_);
    return APMPUndefinedValue::sharedInstance();
}
