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

    // Evaluates a plain read (APMPStatementValue::isPlainRead) at the same
    // cost, without taking a reference: the result is where the statement or
    // the scope holds it, valid until a binding changes, or in `made` when
    // the read makes it.
    static const APMPValue& evaluatePlainRead(
        const APMPValue& value, APMPScope& scope, APMError* error, APMPValue& made)
    {
        if (!value || value->kind() != APMPRuntimeValue::Kind::Statement) {
            if (!scope.incrementInstructionCount(error))
                return APMPUndefinedValue::sharedInstance();
            return value;
        }
        const QString& name = *static_cast<const APMPStatementValue&>(*value).variableName();
        if (scope.enterStraight(2, 1)) {
            const APMPValue& result = scope.bindingForName(name, made);
            scope.leaveEvaluation();
            return result;
        }
        if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
            return APMPUndefinedValue::sharedInstance();
        const APMPValue& result = scope.incrementInstructionCount(error)
            ? scope.bindingForName(name, made)
            : APMPUndefinedValue::sharedInstance();
        scope.leaveEvaluation();
        return result;
    }
    // A condition's truth: the statement evaluated, then read as a boolean;
    // false after an error.
    static bool evaluateCondition(const APMPValue& condition, APMPScope& scope, APMError* error);
    // In order; stops at the first error (undefined) or control value (that
    // value); otherwise the last result (undefined for none).
    static APMPValue executeStatements(const APMPValueList& statements, APMPScope& scope, APMError* error);
    // A function's body: what executeStatements gives, except that a return
    // gives its data (undefined for none), and the run's reused return value
    // lets go of it. A return statement among the body's own statements, or
    // among those of a branch written with statement lists, costs the same
    // but makes no return value to carry its data.
    static APMPValue executeBody(const APMPValueList& statements, APMPScope& scope, APMError* error);
};
