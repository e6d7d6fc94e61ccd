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
    // Only a function is called: the instruction count, which an unbound
    // name would read as, never is one.
    const APMPValue& bound = scope.boundValue(command);
    if (bound && bound->kind() == APMPFunctionValue::kKind) {
        const APMPValue held = bound; // holds the function while it runs
        return static_cast<APMPFunctionValue&>(*held).callWithArguments(arguments, scope, error);
    }
    return APMPUndefinedValue::sharedInstance();
}
