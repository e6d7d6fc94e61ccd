#pragma once

#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStatementValue.h"
#include "analytics/rules/APMPUndefinedValue.h"

// Evaluation of one value, and of a statement list.
class APMPEvaluator {
public:
    // Counts one instruction, then: a statement goes to its command's
    // evaluator or, for a function name, to the function evaluator; any
    // other value evaluates to itself.
    static APMPValue evaluateStatement(const APMPValue& value, APMPScope& scope, APMError* error)
    {
        // Literals are the most common arguments: they cost their
        // instruction here, without a dispatch.
        if (!value || value->kind() != APMPRuntimeValue::Kind::Statement) {
            if (!scope.incrementInstructionCount(error))
                return APMPUndefinedValue::sharedInstance();
            return value;
        }
        return evaluateStatementValue(static_cast<const APMPStatementValue&>(*value), scope, error);
    }
    // The same for a value known to be a statement.
    static APMPValue evaluateStatementValue(const APMPStatementValue& statement, APMPScope& scope, APMError* error);
    // In order; stops at the first error (undefined) or control value (that
    // value); otherwise the last result (undefined for none).
    static APMPValue executeStatements(const APMPValueList& statements, APMPScope& scope, APMError* error);
};
