#include "analytics/rules/APMPLogicalCommandEvaluator.h"

#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

namespace APMPLogicalCommandEvaluatorLocal {

// Evaluates the first operand; yields it when its truth value equals
// `stopWhen`, else the second operand's value.
APMPValue shortCircuit(const APMPValueList& arguments, APMPScope& scope, APMError* error, bool stopWhen)
{
    if (!APMPCheckArgumentCount(arguments, 2, error))
        return APMPUndefinedValue::sharedInstance();
    APMPValue first = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    const bool truth = first->booleanValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    if (truth == stopWhen)
        return first;
    APMPValue second = APMPEvaluator::evaluateStatement(arguments[1], scope, error);
    return failed(error) ? APMPUndefinedValue::sharedInstance() : second;
}

APMPValue logicalAnd(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return shortCircuit(arguments, scope, error, false);
}

APMPValue logicalOr(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return shortCircuit(arguments, scope, error, true);
}

APMPValue logicalNot(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 1, error))
        return APMPUndefinedValue::sharedInstance();
    const APMPValue operand = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    const bool truth = operand->booleanValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    return APMPBooleanValue::booleanValueWithBool(!truth);
}

} // namespace

APMPLogicalCommandEvaluator::APMPLogicalCommandEvaluator()
{
    using namespace APMPLogicalCommandEvaluatorLocal;
    addHandler(1, logicalAnd);
    addHandler(28, logicalNot);
    addHandler(30, logicalOr);
}
