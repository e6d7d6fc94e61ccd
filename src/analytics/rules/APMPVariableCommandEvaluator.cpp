#include "analytics/rules/APMPVariableCommandEvaluator.h"

#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPNullValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

namespace APMPVariableCommandEvaluatorLocal {


const APMPValue& variableUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

// A name argument: checked by kind, not converted.
const APMPStringValue* nameOf(const APMPValue& value, APMError* error)
{
    const auto* name = APMPAs<APMPStringValue>(value);
    if (!name)
        set(error, ArgumentType);
    return name;
}

APMPValue assign(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 2, error))
        return variableUndefined();
    const APMPStringValue* name = nameOf(values[0], error);
    if (!name)
        return variableUndefined();
    if (!scope.assignValue(values[1], name->value())) {
        set(error, AssignToUndeclared);
        return variableUndefined();
    }
    return values[1];
}

APMPValue declare(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    for (const APMPValue& value : values) {
        const APMPStringValue* name = nameOf(value, error);
        if (!name)
            return variableUndefined();
        scope.addValue(APMPUndefinedValue::sharedInstance(), name->value());
    }
    return variableUndefined();
}

APMPValue declareConstants(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (values.size() % 2 != 0) {
        set(error, ArgumentCount);
        return variableUndefined();
    }
    for (std::size_t i = 0; i < values.size(); i += 2) {
        const APMPStringValue* name = nameOf(values[i], error);
        if (!name)
            return variableUndefined();
        scope.addImmutableValue(values[i + 1], name->value());
    }
    return variableUndefined();
}

APMPValue readVariable(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return variableUndefined();
    const APMPStringValue* name = nameOf(values[0], error);
    return name ? scope.valueForName(name->value()) : variableUndefined();
}

APMPValue arrayLiteral(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return APMPObjectManager::arrayValueWithArray(values, scope, error);
}

APMPValue mapLiteral(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (values.size() % 2 != 0) {
        set(error, ArgumentCount);
        return variableUndefined();
    }
    QStringList keys;
    for (std::size_t i = 0; i < values.size(); i += 2) {
        keys << APMPChargedStringValue(*values[i], scope, error);
        if (failed(error))
            return variableUndefined();
    }
    const auto map = APMPObjectManager::mapValueWithScope(scope);
    for (std::size_t i = 0; i < values.size(); i += 2)
        map->setValueForProperty(values[i + 1], keys[static_cast<qsizetype>(i / 2)]);
    return map;
}

APMPValue getProperty(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 2, error))
        return variableUndefined();
    const APMPValue& object = values[0];
    const APMPValue& key = values[1];
    // Arrays and texts read the key as an index (a number) first; maps and
    // functions only as a name.
    const bool readAsIndex = object->kind() == APMPRuntimeValue::Kind::Array
        || object->kind() == APMPRuntimeValue::Kind::String;
    if (!APMPChargeConversion(*key, readAsIndex, scope, error))
        return variableUndefined();
    if (const auto* array = APMPAs<APMPArrayValue>(object))
        return array->valueForProperty(key, error);
    const auto* map = APMPAs<APMPMapValue>(object);
    const auto* function = APMPAs<APMPFunctionValue>(object);
    if (map || function) {
        const QString name = key->stringValueOrError(error);
        if (failed(error))
            return variableUndefined();
        return map ? map->valueForProperty(name) : function->valueForProperty(name);
    }
    if (const auto* string = APMPAs<APMPStringValue>(object)) {
        const QString& text = string->value();
        if (const auto* keyText = APMPAs<APMPStringValue>(key); keyText && keyText->value() == kAPMPLengthProperty)
            return APMPNumberValue::valueWithDouble(static_cast<double>(text.size()));
        if (APMPIsArrayIndexValue(*key)) {
            APMError ignored;
            const double index = key->doubleValueOrError(&ignored);
            if (index < static_cast<double>(text.size()))
                return std::make_shared<APMPStringValue>(QString(text[static_cast<qsizetype>(index)]));
        }
    }
    return variableUndefined();
}

APMPValue setProperty(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 3, error))
        return variableUndefined();
    const APMPValue& object = values[0];
    const APMPValue& value = values[2];
    if (object->isNullOrUndefined()) {
        set(error, PropertyOfNullOrUndefined);
        return variableUndefined();
    }
    if (!APMPChargeConversion(*values[1], object->kind() == APMPRuntimeValue::Kind::Array, scope, error))
        return variableUndefined();
    if (auto* array = APMPAs<APMPArrayValue>(object)) {
        // Growing by an index or "length" fills the gap with holes: that
        // costs by the elements added.
        const qint64 before = array->count();
        if (!array->setValueForProperty(value, values[1], error) || !scope.chargeWork(array->count() - before, error))
            return variableUndefined();
        return value;
    }
    auto* map = APMPAs<APMPMapValue>(object);
    auto* function = APMPAs<APMPFunctionValue>(object);
    if (map || function) {
        const QString name = values[1]->stringValueOrError(error);
        if (failed(error))
            return variableUndefined();
        if (map)
            map->setValueForProperty(value, name);
        else
            function->setValueForProperty(value, name);
    }
    return value;
}

APMPValue typeOf(const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return variableUndefined();
    return std::make_shared<APMPStringValue>(APMPTypeName(*values[0]));
}

APMPValue undefinedLiteral(const APMPValueList&, APMPScope&, APMError*)
{
    return variableUndefined();
}

APMPValue nullLiteral(const APMPValueList&, APMPScope&, APMError*)
{
    return APMPNullValue::sharedInstance();
}

} // namespace APMPVariableCommandEvaluatorLocal

APMPVariableCommandEvaluator::APMPVariableCommandEvaluator()
    : APMPCommandEvaluator(Arguments::Evaluated)
{
    using namespace APMPVariableCommandEvaluatorLocal;
    addHandler(3, assign);
    addHandler(7, arrayLiteral);
    addHandler(8, mapLiteral);
    addHandler(15, readVariable);
    addHandler(16, getProperty);
    addHandler(17, getProperty);
    addHandler(40, typeOf);
    addHandler(41, declare);
    addHandler(43, setProperty);
    addHandler(44, undefinedLiteral);
    addHandler(45, nullLiteral);
    addHandler(52, declareConstants);
}
