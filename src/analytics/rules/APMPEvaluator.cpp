#include "analytics/rules/APMPEvaluator.h"

#include "analytics/rules/APMPCommandEvaluator.h"
#include "analytics/rules/APMPFunctionEvaluator.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"

APMPValue APMPEvaluator::evaluateStatementValue(const APMPStatementValue& statement, APMPScope& scope, APMError* error)
{
    if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
        return APMPUndefinedValue::sharedInstance();
    // Statements are immutable and held by whoever evaluates them (their
    // parent statement, a function body, a copied statement list).
    APMPValue result;
    if (const QString* name = statement.variableName()) {
        // Reading a variable named by a literal: the literal costs its
        // instruction, and the read needs no argument list.
        result = scope.incrementInstructionCount(error) ? scope.valueForName(*name)
                                                        : APMPUndefinedValue::sharedInstance();
    } else if (const APMPCommandEvaluator::Handler handler = statement.rawHandler()) {
        result = handler(statement.arguments(), scope, error);
    } else if (APMPCommandEvaluator* evaluator = statement.commandEvaluator()) {
        result = evaluator->evaluateOpcode(statement.opcode(), statement.arguments(), scope, error);
    } else {
        result = APMPFunctionEvaluator::callFunction(statement.functionName(), statement.arguments(), scope, error);
    }
    scope.leaveEvaluation();
    return result;
}

APMPValue APMPEvaluator::executeStatements(const APMPValueList& statements, APMPScope& scope, APMError* error)
{
    if (statements.empty())
        return APMPUndefinedValue::sharedInstance();
    APMPValue result;
    for (const APMPValue& statement : statements) {
        result = evaluateStatement(statement, scope, error);
        if (APMPRuntimeError::failed(error))
            return APMPUndefinedValue::sharedInstance();
        if (result->kind() == APMPRuntimeValue::Kind::Control)
            return result;
    }
    return result;
}
