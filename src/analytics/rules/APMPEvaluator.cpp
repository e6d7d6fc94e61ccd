#include "analytics/rules/APMPEvaluator.h"

#include "analytics/rules/APMPCommandEvaluator.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPFunctionEvaluator.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"
#include "analytics/rules/APMPValueFunctions.h"

namespace APMPEvaluatorLocal {

// An operand of a statement counted as a whole: a literal, or what its
// name is bound to (never the instruction count's, see straightCost).
inline const APMPValue& countedOperand(const APMPValue& operand, const APMPScope& scope)
{
    if (!operand || operand->kind() != APMPRuntimeValue::Kind::Statement)
        return operand;
    return scope.boundValue(*static_cast<const APMPStatementValue&>(*operand).variableName());
}

// The command's own result for operands that are not two numbers.
[[gnu::noinline]] APMPValue countedOperation(
    const APMPStatementValue& statement, const APMPValue& first, const APMPValue& second, APMPScope& scope,
    APMError* error)
{
    const APMPPooledValueList values(scope);
    values->push_back(first);
    values->push_back(second);
    return statement.commandEvaluator()->handler(statement.opcode())(*values, scope, error);
}

} // namespace APMPEvaluatorLocal

APMPValue APMPEvaluator::evaluateStatementValue(const APMPStatementValue& statement, APMPScope& scope, APMError* error)
{
    using Form = APMPStatementValue::Form;
    const Form form = statement.form();
    // A read, or an operator on plain operands, is counted at once when all
    // of it fits within the limits.
    if (statement.straightCost() != 0 && scope.enterStraight(statement.straightCost(), statement.straightDepth())) {
        APMPValue result;
        if (form == Form::Read) {
            result = scope.valueForName(*statement.variableName());
        } else {
            const APMPValue& first = APMPEvaluatorLocal::countedOperand(statement.arguments()[0], scope);
            const APMPValue& second = APMPEvaluatorLocal::countedOperand(statement.arguments()[1], scope);
            const auto* a = APMPAs<APMPNumberValue>(first);
            const auto* b = APMPAs<APMPNumberValue>(second);
            if (a && b)
                result = statement.numberOperation()(a->value(), b->value());
            else
                result = APMPEvaluatorLocal::countedOperation(statement, first, second, scope, error);
        }
        scope.leaveEvaluation();
        return result;
    }
    if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
        return APMPUndefinedValue::sharedInstance();
    // Statements are immutable and held by whoever evaluates them (their
    // parent statement, a function body, a copied statement list).
    APMPValue result;
    switch (form) {
    case Form::NumberOperands:
        result = statement.commandEvaluator()->evaluatePlainOperands(
            statement.opcode(), statement.arguments(), scope, error);
        break;
    case Form::NumberCommand:
        result = statement.commandEvaluator()->evaluateTwoOperands(statement.numberOperation(),
            statement.commandEvaluator()->handler(statement.opcode()), statement.arguments(), scope, error);
        break;
    case Form::RawCommand:
        result = statement.rawHandler()(statement.arguments(), scope, error);
        break;
    case Form::Call:
        result = APMPFunctionEvaluator::callFunction(statement.functionName(), statement.arguments(), scope, error);
        break;
    case Form::Command:
        result = statement.commandEvaluator()->evaluateOpcode(statement.opcode(), statement.arguments(), scope, error);
        break;
    case Form::Read:
        // Reading a variable named by a literal: the literal costs its
        // instruction, and the read needs no argument list.
        result = scope.incrementInstructionCount(error) ? scope.valueForName(*statement.variableName())
                                                        : APMPUndefinedValue::sharedInstance();
        break;
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
        if (const APMPCommandEvaluator::NumberTest test = statement.numberTest()) {
            if (statement.straightCost() != 0
                && scope.enterStraight(statement.straightCost(), statement.straightDepth())) {
                const APMPValue& first = APMPEvaluatorLocal::countedOperand(statement.arguments()[0], scope);
                const APMPValue& second = APMPEvaluatorLocal::countedOperand(statement.arguments()[1], scope);
                bool truth = false;
                const auto* a = APMPAs<APMPNumberValue>(first);
                const auto* b = APMPAs<APMPNumberValue>(second);
                if (a && b) {
                    truth = test(a->value(), b->value());
                } else {
                    const APMPValue result
                        = APMPEvaluatorLocal::countedOperation(statement, first, second, scope, error);
                    truth = !APMPRuntimeError::failed(error) && result->booleanValueOrError(error);
                }
                scope.leaveEvaluation();
                return truth;
            }
            if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
                return false;
            const bool truth
                = statement.commandEvaluator()->testPlainOperands(statement.opcode(), statement.arguments(), scope, error);
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

namespace APMPEvaluatorLocal {

bool runOwnStatements(const APMPValueList& statements, APMPScope& scope, APMError* error, APMPValue& result);

// A branch with list branches among a body's own statements, entered and
// counted: runs the list taken as the body's own statements, with the
// result and cost of the branch command. True when the body ends.
bool runListBranch(const APMPStatementValue& branch, APMPScope& scope, APMError* error, APMPValue& result)
{
    const APMPValueList& arguments = branch.arguments();
    const bool truth = APMPEvaluator::evaluateCondition(arguments[0], scope, error);
    if (APMPRuntimeError::failed(error)) {
        result = APMPUndefinedValue::sharedInstance();
        return true;
    }
    const std::size_t taken = truth ? 1 : 2;
    result = APMPUndefinedValue::sharedInstance();
    if (taken >= arguments.size())
        return false;
    // The list costs its instruction; the array it would make is never seen.
    if (!scope.incrementInstructionCount(error))
        return true;
    return runOwnStatements(
        static_cast<const APMPStatementValue&>(*arguments[taken]).arguments(), scope, error, result);
}

// Runs statements of a function body: true when the body ends, with the
// returned data (or a break or continue, or undefined after an error) in
// `result`; false when the statements ran through, with the last one's
// result. A return among them, or among those of a list branch taken, costs
// what the return command does but makes no return value to carry its data.
bool runOwnStatements(const APMPValueList& statements, APMPScope& scope, APMError* error, APMPValue& result)
{
    for (const APMPValue& statement : statements) {
        const auto* own = APMPAs<APMPStatementValue>(statement);
        if (own && own->isPlainReturn()) {
            if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error)) {
                result = APMPUndefinedValue::sharedInstance();
                return true;
            }
            result = own->arguments().empty() ? APMPUndefinedValue::sharedInstance()
                                              : APMPEvaluator::evaluateStatement(own->arguments()[0], scope, error);
            scope.leaveEvaluation();
            if (APMPRuntimeError::failed(error) || !result)
                result = APMPUndefinedValue::sharedInstance();
            return true;
        }
        if (own && own->hasListBranches()) {
            if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error)) {
                result = APMPUndefinedValue::sharedInstance();
                return true;
            }
            const bool ended = runListBranch(*own, scope, error, result);
            scope.leaveEvaluation();
            if (ended)
                return true;
            continue;
        }
        result = APMPEvaluator::evaluateStatement(statement, scope, error);
        if (APMPRuntimeError::failed(error)) {
            result = APMPUndefinedValue::sharedInstance();
            return true;
        }
        if (const auto* control = APMPAs<APMPControlValue>(result)) {
            if (control->isReturn())
                result = APMPControlValue::takeReturnData(std::move(result), scope.spareReturnValue());
            return true;
        }
    }
    return false;
}

} // namespace APMPEvaluatorLocal

APMPValue APMPEvaluator::executeBody(const APMPValueList& statements, APMPScope& scope, APMError* error)
{
    APMPValue result = APMPUndefinedValue::sharedInstance();
    APMPEvaluatorLocal::runOwnStatements(statements, scope, error, result);
    return result;
}
