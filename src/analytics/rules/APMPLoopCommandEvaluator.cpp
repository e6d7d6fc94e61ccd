#include "analytics/rules/APMPLoopCommandEvaluator.h"

#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

namespace APMPLoopCommandEvaluatorLocal {

const APMPValue& loopUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

// What one pass of the body tells the loop.
enum class Pass { Next, Stop, Return };

Pass runBody(const APMPValueList& body, APMPScope& scope, APMError* error, APMPValue* returned)
{
    APMPValue result = APMPEvaluator::executeStatements(body, scope, error);
    if (failed(error) || APMPControlValue::isBreak(result))
        return Pass::Stop;
    if (const auto* control = APMPAs<APMPControlValue>(result); control && control->isReturn()) {
        *returned = std::move(result);
        return Pass::Return;
    }
    return Pass::Next;
}

// The loop's result after a pass that ended it.
APMPValue ended(Pass pass, const APMPValue& returned, APMError* error)
{
    if (failed(error))
        return loopUndefined();
    return pass == Pass::Return ? returned : loopUndefined();
}

enum class Binding { Assign, Constant, Variable };

APMPValue iterate(const APMPValueList& arguments, APMPScope& scope, APMError* error, bool overKeys, Binding binding)
{
    if (!APMPCheckArgumentCount(arguments, 3, error))
        return loopUndefined();
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error))
        return loopUndefined();
    const QString name = APMPChargedStringValue(*values[0], scope, error);
    if (failed(error))
        return loopUndefined();

    // Listing a text's or an array's items walks all of it, holes included.
    APMPValueList items;
    const APMPValue& iterated = values[1];
    qint64 walked = 0;
    if (const auto* text = APMPAs<APMPStringValue>(iterated))
        walked = text->value().size();
    else if (const auto* array = APMPAs<APMPArrayValue>(iterated))
        walked = array->count();
    if (!scope.chargeWalk(walked, error))
        return loopUndefined();
    if (const auto* text = APMPAs<APMPStringValue>(iterated)) {
        const QString& string = text->value();
        items.reserve(static_cast<std::size_t>(string.size()));
        for (qsizetype i = 0; i < string.size(); ++i)
            items.push_back(std::make_shared<APMPStringValue>(overKeys ? QString::number(i) : QString(string[i])));
    } else if (const auto* array = APMPAs<APMPArrayValue>(iterated)) {
        if (overKeys) {
            for (const QString& key : array->allPropertyNames())
                items.push_back(std::make_shared<APMPStringValue>(key));
        } else {
            items = array->allElements();
        }
    } else if (overKeys) {
        QStringList keys;
        if (const auto* map = APMPAs<APMPMapValue>(iterated))
            keys = map->allPropertyNames();
        else if (const auto* function = APMPAs<APMPFunctionValue>(iterated))
            keys = function->allPropertyNames();
        for (const QString& key : keys)
            items.push_back(std::make_shared<APMPStringValue>(key));
    } else {
        set(error, NotIterable);
        return loopUndefined();
    }
    if (!scope.chargeWork(static_cast<qint64>(items.size()), error))
        return loopUndefined();

    const auto* bodyArray = APMPAs<APMPArrayValue>(values[2]);
    if (!bodyArray) {
        set(error, ArgumentType);
        return loopUndefined();
    }
    if (!scope.chargeWalk(bodyArray->count(), error))
        return loopUndefined();
    const APMPValueList body = bodyArray->allElements();
    APMPValue returned;
    for (const APMPValue& item : items) {
        Pass pass;
        if (binding == Binding::Assign) {
            scope.setValue(item, name);
            pass = runBody(body, scope, error, &returned);
        } else {
            const APMPScopePtr iteration = scope.createChildScope();
            if (binding == Binding::Constant)
                iteration->addImmutableValue(item, name);
            else
                iteration->addValue(item, name);
            pass = runBody(body, *iteration, error, &returned);
        }
        if (pass != Pass::Next)
            return ended(pass, returned, error);
    }
    return loopUndefined();
}

APMPValue forInAssign(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, true, Binding::Assign);
}

APMPValue forInConstant(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, true, Binding::Constant);
}

APMPValue forInVariable(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, true, Binding::Variable);
}

APMPValue forOfAssign(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, false, Binding::Assign);
}

APMPValue forOfConstant(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, false, Binding::Constant);
}

APMPValue forOfVariable(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    return iterate(arguments, scope, error, false, Binding::Variable);
}

// The body argument, evaluated: an array value's elements, else error 10.
bool bodyOf(const APMPValue& argument, APMPScope& scope, APMError* error, APMPValueList* body)
{
    const APMPValue value = APMPEvaluator::evaluateStatement(argument, scope, error);
    if (failed(error))
        return false;
    const auto* array = APMPAs<APMPArrayValue>(value);
    if (!array) {
        set(error, ArgumentType);
        return false;
    }
    if (!scope.chargeWalk(array->count(), error))
        return false;
    *body = array->allElements();
    return true;
}

APMPValue whileLoop(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 4, error))
        return loopUndefined();
    const bool runFirst = APMPEvaluator::evaluateCondition(arguments[2], scope, error);
    if (failed(error))
        return loopUndefined();
    APMPValueList body;
    if (!bodyOf(arguments[3], scope, error, &body))
        return loopUndefined();
    APMPValue returned;
    if (runFirst) {
        const Pass pass = runBody(body, scope, error, &returned);
        if (pass != Pass::Next)
            return ended(pass, returned, error);
    }
    for (;;) {
        const bool go = APMPEvaluator::evaluateCondition(arguments[0], scope, error);
        if (failed(error) || !go)
            return loopUndefined();
        const Pass pass = runBody(body, scope, error, &returned);
        if (pass != Pass::Next)
            return ended(pass, returned, error);
        APMPEvaluator::evaluateStatement(arguments[1], scope, error);
        if (failed(error))
            return loopUndefined();
    }
}

// A new child of the loop's scope holding a mutable copy of each loop
// variable as `from` sees it.
APMPScopePtr iterationScope(APMPScope& loopScope, const APMPScope& from, const QStringList& names)
{
    const APMPScopePtr scope = loopScope.createChildScope();
    for (const QString& name : names)
        scope->addValue(from.valueForName(name), name);
    return scope;
}

APMPValue countedLoop(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(arguments, 4, error))
        return loopUndefined();
    const APMPValue variables = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (failed(error))
        return loopUndefined();
    const auto* variableList = APMPAs<APMPArrayValue>(variables);
    if (!variableList) {
        set(error, ArgumentType);
        return loopUndefined();
    }
    APMPValueList body;
    if (!bodyOf(arguments[3], scope, error, &body))
        return loopUndefined();
    if (!scope.chargeWalk(variableList->count(), error))
        return loopUndefined();
    QStringList names;
    for (const APMPValue& variable : variableList->allElements()) {
        names << APMPChargedStringValue(*variable, scope, error);
        if (failed(error))
            return loopUndefined();
    }
    APMPScopePtr current = iterationScope(scope, scope, names);
    APMPValue returned;
    for (;;) {
        const bool go = APMPEvaluator::evaluateCondition(arguments[1], *current, error);
        if (failed(error) || !go)
            return loopUndefined();
        const Pass pass = runBody(body, *current, error, &returned);
        if (pass != Pass::Next)
            return ended(pass, returned, error);
        APMPScopePtr next = iterationScope(scope, *current, names);
        APMPEvaluator::evaluateStatement(arguments[2], *next, error);
        if (failed(error))
            return loopUndefined();
        current = std::move(next);
    }
}

} // namespace APMPLoopCommandEvaluatorLocal

APMPLoopCommandEvaluator::APMPLoopCommandEvaluator()
{
    using namespace APMPLoopCommandEvaluatorLocal;
    addHandler(42, whileLoop);
    addHandler(47, forInAssign);
    addHandler(54, forInConstant);
    addHandler(55, forInVariable);
    addHandler(63, countedLoop);
    addHandler(64, forOfAssign);
    addHandler(65, forOfConstant);
    addHandler(66, forOfVariable);
}
