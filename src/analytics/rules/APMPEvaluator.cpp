#include "analytics/rules/APMPEvaluator.h"

#include "analytics/rules/APMPCommandEvaluator.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPFunctionEvaluator.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"

namespace APMPEvaluatorLocal {
constexpr int kReturnOpcode = 36;
}

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
    } else if (APMPCommandEvaluator* evaluator = statement.commandEvaluator(); evaluator
               && statement.hasPlainOperands() && evaluator->hasNumberOperation(statement.opcode())) {
        result = evaluator->evaluatePlainOperands(statement.opcode(), statement.arguments(), scope, error);
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

bool APMPEvaluator::evaluateCondition(const APMPValue& condition, APMPScope& scope, APMError* error)
{
    // A comparison of two plain reads, the usual loop or branch condition,
    // is read as a truth value without making one, at the same cost.
    if (condition && condition->kind() == APMPRuntimeValue::Kind::Statement) {
        const auto& statement = static_cast<const APMPStatementValue&>(*condition);
        APMPCommandEvaluator* evaluator = statement.commandEvaluator();
        if (evaluator && statement.hasPlainOperands() && evaluator->hasNumberTest(statement.opcode())) {
            if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
                return false;
            const bool truth
                = evaluator->testPlainOperands(statement.opcode(), statement.arguments(), scope, error);
            scope.leaveEvaluation();
            return truth;
        }
    }
    const APMPValue value = evaluateStatement(condition, scope, error);
    return !APMPRuntimeError::failed(error) && value->booleanValueOrError(error);
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

APMPValue APMPEvaluator::executeBody(const APMPValueList& statements, APMPScope& scope, APMError* error)
{
    if (statements.empty())
        return APMPUndefinedValue::sharedInstance();
    APMPValue result;
    for (const APMPValue& statement : statements) {
        const auto* returned = APMPAs<APMPStatementValue>(statement);
        if (returned && returned->commandEvaluator()
            && returned->opcode() == APMPEvaluatorLocal::kReturnOpcode && returned->arguments().size() <= 1) {
            if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
                return APMPUndefinedValue::sharedInstance();
            APMPValue data = returned->arguments().empty()
                ? APMPUndefinedValue::sharedInstance()
                : evaluateStatement(returned->arguments()[0], scope, error);
            scope.leaveEvaluation();
            if (APMPRuntimeError::failed(error) || !data)
                return APMPUndefinedValue::sharedInstance();
            return data;
        }
        result = evaluateStatement(statement, scope, error);
        if (APMPRuntimeError::failed(error))
            return APMPUndefinedValue::sharedInstance();
        if (const auto* control = APMPAs<APMPControlValue>(result)) {
            if (control->isReturn())
                return APMPControlValue::takeReturnData(std::move(result), scope.spareReturnValue());
            return result;
        }
    }
    return result;
}
