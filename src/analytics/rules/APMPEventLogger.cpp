#include "analytics/rules/APMPEventLogger.h"

#include "analytics/rules/APMPEventContext.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPRuntimeEntityConverter.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <cmath>

using namespace APMPRuntimeError;

const QString APMPEventLogger::kFunctionName = QStringLiteral("internal.eventLogger");

APMPEventLogger::APMPEventLogger(std::weak_ptr<APMPEventContext> context)
    : APMPFunctionValue(kFunctionName)
    , context_(std::move(context))
{
}

APMPValue APMPEventLogger::invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error) || !APMPCheckArgumentCount(values, 3, error))
        return APMPUndefinedValue::sharedInstance();
    const QString name = values[0]->stringValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    const double timestamp = values[1]->doubleValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    const auto* parameters = APMPAs<APMPMapValue>(values[2]);
    if (!parameters) {
        set(error, ArgumentType);
        return APMPUndefinedValue::sharedInstance();
    }
    const QVariantMap converted = APMPRuntimeEntityConverter::dictionaryFromMapValue(*parameters, error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    if (const auto context = context_.lock())
        context->logEventWithName(name, static_cast<double>(APMPToInt64(APMPToInteger(timestamp))), converted);
    return APMPUndefinedValue::sharedInstance();
}
