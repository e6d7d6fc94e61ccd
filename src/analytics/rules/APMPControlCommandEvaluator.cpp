#include "analytics/rules/APMPControlCommandEvaluator.h"

#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPElementAccount.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStatementValue.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

namespace APMPControlCommandEvaluatorLocal {

const APMPValue& controlUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

constexpr int kStatementListOpcode = 46;
constexpr int kArrayLiteralOpcode = 7;

// Runs an array's elements as a statement list in the scope. The elements
// are copied first (the statements may change the array), which is charged
// as bulk work like every other walk over an array.
APMPValue runArray(const APMPArrayValue& array, APMPScope& scope, APMError* error)
{
    if (!scope.chargeWalk(array.count(), error))
        return controlUndefined();
    return APMPEvaluator::executeStatements(array.allElements(), scope, error);
}

APMPValue statementList(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return APMPObjectManager::arrayValueWithArray(arguments, scope, error);
}

APMPValue block(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPScopePtr child = scope.createChildScope();
    return APMPEvaluator::executeStatements(arguments, *child, error);
}

APMPValue runList(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 1, error))
        return controlUndefined();
    const APMPValue list = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (failed(error))
        return controlUndefined();
    const auto* array = APMPAs<APMPArrayValue>(list);
    if (!array) {
        set(error, ArgumentType);
        return controlUndefined();
    }
    return runArray(*array, scope, error);
}

APMPValue sequence(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMinimumArgumentCount(arguments, 1, error))
        return controlUndefined();
    APMPValue result;
    for (const APMPValue& argument : arguments) {
        result = APMPEvaluator::evaluateStatement(argument, scope, error);
        if (failed(error))
            return controlUndefined();
        if (result->kind() == APMPRuntimeValue::Kind::Control) {
            set(error, ArgumentType);
            return controlUndefined();
        }
    }
    return result;
}

APMPValue breakCommand(const APMPValueList& arguments, APMPScope&, APMError* error)
{
    return APMPCheckArgumentCount(arguments, 0, error) ? APMPControlValue::breakValue() : controlUndefined();
}

APMPValue continueCommand(const APMPValueList& arguments, APMPScope&, APMError* error)
{
    return APMPCheckArgumentCount(arguments, 0, error) ? APMPControlValue::continueValue()
                                                       : controlUndefined();
}

APMPValue returnCommand(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCountBetween(arguments, 0, 1, error))
        return controlUndefined();
    if (arguments.empty())
        return APMPControlValue::returnValueWithData(nullptr, scope.spareReturnValue());
    APMPValue data = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (failed(error))
        return controlUndefined();
    return APMPControlValue::returnValueWithData(std::move(data), scope.spareReturnValue());
}

APMPValue ifElse(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCountBetween(arguments, 1, 3, error))
        return controlUndefined();
    const bool truth = APMPEvaluator::evaluateCondition(arguments[0], scope, error);
    if (failed(error))
        return controlUndefined();
    const std::size_t branch = truth ? 1 : 2;
    if (branch >= arguments.size())
        return controlUndefined();
    // A branch written as a statement list literal runs its statements
    // directly: the same instruction is counted, and the array it would
    // make is never seen by the program.
    if (const auto* list = APMPAs<APMPStatementValue>(arguments[branch]); list && list->opcode() == kStatementListOpcode) {
        if (!scope.incrementInstructionCount(error))
            return controlUndefined();
        return APMPEvaluator::executeStatements(list->arguments(), scope, error);
    }
    const APMPValue result = APMPEvaluator::evaluateStatement(arguments[branch], scope, error);
    if (failed(error))
        return controlUndefined();
    if (const auto* array = APMPAs<APMPArrayValue>(result))
        return runArray(*array, scope, error);
    return result;
}

APMPValue conditional(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 3, error))
        return controlUndefined();
    const bool truth = APMPEvaluator::evaluateCondition(arguments[0], scope, error);
    if (failed(error))
        return controlUndefined();
    APMPValue result = APMPEvaluator::evaluateStatement(arguments[truth ? 1 : 2], scope, error);
    return failed(error) ? controlUndefined() : result;
}

// A case body's result: whether the switch ends, and with what.
bool endsSwitch(const APMPValue& result, APMPValue* outcome)
{
    if (result->kind() != APMPRuntimeValue::Kind::Control)
        return false;
    *outcome = APMPControlValue::isBreak(result) ? controlUndefined() : result;
    return true;
}

APMPValue switchCommand(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 3, error))
        return controlUndefined();
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error))
        return controlUndefined();
    const auto* caseList = APMPAs<APMPArrayValue>(values[1]);
    const auto* bodyList = APMPAs<APMPArrayValue>(values[2]);
    if (!caseList || !bodyList) {
        set(error, ArgumentCount);
        return controlUndefined();
    }
    if (!scope.chargeWalk(caseList->count() + bodyList->count(), error))
        return controlUndefined();
    const APMPValueList cases = caseList->allElements();
    const APMPValueList bodies = bodyList->allElements();
    bool matched = false;
    APMPValue outcome;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!matched) {
            const APMPValue candidate = APMPEvaluator::evaluateStatement(cases[i], scope, error);
            if (failed(error))
                return controlUndefined();
            matched = APMPStrictEquals(*candidate, *values[0], error);
            if (failed(error))
                return controlUndefined();
        }
        if (!matched || i >= bodies.size())
            continue;
        const APMPValue result = APMPEvaluator::evaluateStatement(bodies[i], scope, error);
        if (failed(error))
            return controlUndefined();
        if (endsSwitch(result, &outcome))
            return outcome;
    }
    if (bodies.size() == cases.size() + 1) {
        const APMPValue result = APMPEvaluator::evaluateStatement(bodies.back(), scope, error);
        if (failed(error))
            return controlUndefined();
        if (endsSwitch(result, &outcome))
            return outcome;
    }
    return controlUndefined();
}

std::shared_ptr<APMPFunctionValue> makeFunction(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMinimumArgumentCount(arguments, 2, error))
        return nullptr;
    const QString name = arguments[0]->stringValueOrError(error);
    if (failed(error))
        return nullptr;
    const APMPValue parameterList = APMPEvaluator::evaluateStatement(arguments[1], scope, error);
    if (failed(error))
        return nullptr;
    const auto* parameters = APMPAs<APMPArrayValue>(parameterList);
    if (!parameters) {
        set(error, ArgumentType);
        return nullptr;
    }
    if (!scope.chargeWalk(parameters->count(), error))
        return nullptr;
    QStringList names;
    for (const APMPValue& parameter : parameters->allElements()) {
        names << APMPChargedStringValue(*parameter, scope, error);
        if (failed(error))
            return nullptr;
    }
    APMPValueList body(arguments.begin() + 2, arguments.end());
    return APMPObjectManager::functionValueWithFunctionName(name, names, std::move(body), scope.shared_from_this());
}

APMPValue functionValue(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    auto function = makeFunction(arguments, scope, error);
    return function ? APMPValue(std::move(function)) : controlUndefined();
}

APMPValue namedFunction(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    auto function = makeFunction(arguments, scope, error);
    if (!function)
        return controlUndefined();
    scope.setValue(function, function->functionName());
    return function;
}

// Elements charged to the runtime's account until the end of a call.
class HeldElements {
public:
    HeldElements() = default;
    HeldElements(const HeldElements&) = delete;
    HeldElements& operator=(const HeldElements&) = delete;
    ~HeldElements()
    {
        if (account_)
            account_->release(count_);
    }
    bool admit(APMPElementAccount* account, qint64 count)
    {
        if (!account->admit(count))
            return false;
        account_ = account;
        count_ = count;
        return true;
    }

private:
    APMPElementAccount* account_ = nullptr;
    qint64 count_ = 0;
};

// A method's arguments written as an array literal, the usual form: the
// literal's elements are evaluated straight into the list, at the cost of
// evaluating the literal, and the array it would make (which the program
// never sees) is not made. Its elements are still charged to the runtime's
// account for the length of the call, as the array would be.
bool listMethodArguments(const APMPStatementValue& literal, APMPScope& scope, APMError* error,
    APMPValueList& elements, HeldElements& held)
{
    if (!scope.incrementInstructionCount(error) || !scope.enterEvaluation(error))
        return false;
    for (const APMPValue& argument : literal.arguments()) {
        elements.push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (failed(error)) {
            scope.leaveEvaluation();
            return false;
        }
    }
    scope.leaveEvaluation();
    if (APMPObjectManager* manager = scope.objectManager();
        manager && !held.admit(manager->elementAccount().get(), static_cast<qint64>(elements.size()))) {
        set(error, LimitExceeded);
        return false;
    }
    return true;
}

APMPValue methodCall(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 3, error))
        return controlUndefined();
    // Both lists are lent by the run's pool: a method call allocates none.
    const APMPPooledValueList values(scope);
    const APMPPooledValueList elements(scope);
    HeldElements held;
    const auto* literal = APMPAs<APMPStatementValue>(arguments[2]);
    if (literal && !(literal->commandEvaluator() && literal->opcode() == kArrayLiteralOpcode))
        literal = nullptr;
    for (std::size_t i = 0; i < (literal ? 2 : 3); ++i) {
        values->push_back(APMPEvaluator::evaluateStatement(arguments[i], scope, error));
        if (failed(error))
            return controlUndefined();
    }
    if (literal && !listMethodArguments(*literal, scope, error, *elements, held))
        return controlUndefined();
    const auto* name = APMPAs<APMPStringValue>((*values)[1]);
    const auto* list = literal ? nullptr : APMPAs<APMPArrayValue>((*values)[2]);
    if (!name || (!literal && !list)) {
        set(error, ArgumentType);
        return controlUndefined();
    }
    if (!scope.chargeWalk(literal ? static_cast<qint64>(elements->size()) : list->count(), error))
        return controlUndefined();
    if (list)
        list->appendAllElementsTo(*elements);
    return (*values)[0]->applyWithName(name->value(), *elements, scope, error);
}

} // namespace APMPControlCommandEvaluatorLocal

APMPControlCommandEvaluator::APMPControlCommandEvaluator()
{
    using namespace APMPControlCommandEvaluatorLocal;
    addHandler(2, methodCall);
    addHandler(4, breakCommand);
    addHandler(5, runList);
    addHandler(6, continueCommand);
    addHandler(9, runList);
    addHandler(13, sequence);
    addHandler(22, ifElse);
    addHandler(36, returnCommand);
    addHandler(38, switchCommand);
    addHandler(39, conditional);
    addHandler(46, statementList);
    addHandler(50, namedFunction);
    addHandler(51, functionValue);
    addHandler(53, block);
}
