#include "analytics/rules/APMPEvaluator.h"

#include "analytics/rules/APMPCommandRegistrar.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"

APMPValue APMPEvaluator::evaluateStatementValue(APMPRuntimeValue& statement, APMPScope& scope, APMError* error)
{
    return APMPCommandRegistrar::evaluateStatementValue(static_cast<const APMPStatementValue&>(statement), scope, error);
}

APMPValue APMPEvaluator::executeStatements(const APMPValueList& statements, APMPScope& scope, APMError* error)
{
    APMPValue result = APMPUndefinedValue::sharedInstance();
    for (const APMPValue& statement : statements) {
        result = evaluateStatement(statement, scope, error);
        if (APMPRuntimeError::failed(error))
            return APMPUndefinedValue::sharedInstance();
        if (result->kind() == APMPRuntimeValue::Kind::Control)
            return result;
    }
    return result;
}
