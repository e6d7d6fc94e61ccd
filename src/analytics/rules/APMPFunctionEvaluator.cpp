#include "analytics/rules/APMPFunctionEvaluator.h"

#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPUndefinedValue.h"

APMPValue APMPFunctionEvaluator::evaluateCommand(
    const QString& command, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return callFunction(command, arguments, scope, error);
}

APMPValue APMPFunctionEvaluator::callFunction(
    const QString& command, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPValue bound = scope.valueForName(command); // holds the function while it runs
    if (auto* function = APMPAs<APMPFunctionValue>(bound))
        return function->callWithArguments(arguments, scope, error);
    return APMPUndefinedValue::sharedInstance();
}
