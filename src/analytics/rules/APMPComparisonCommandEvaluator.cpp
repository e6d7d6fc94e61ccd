#include "analytics/rules/APMPComparisonCommandEvaluator.h"

#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;
using Kind = APMPRuntimeValue::Kind;

namespace APMPComparisonCommandEvaluatorLocal {

enum class Order { Less, Equal, Greater };

// Text order when both are text-like, else numeric order with NaN unordered
// (which counts as greater).
Order ordering(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPScope& scope, APMError* error)
{
    if (APMPIsStringLikeValue(a) && APMPIsStringLikeValue(b)) {
        const QString first = APMPChargedStringValue(a, scope, error);
        if (failed(error))
            return Order::Greater;
        const QString second = APMPChargedStringValue(b, scope, error);
        if (failed(error))
            return Order::Greater;
        const int order = first.compare(second);
        return order < 0 ? Order::Less : (order == 0 ? Order::Equal : Order::Greater);
    }
    const double first = APMPChargedDoubleValue(a, scope, error);
    if (failed(error))
        return Order::Greater;
    const double second = APMPChargedDoubleValue(b, scope, error);
    if (failed(error))
        return Order::Greater;
    if (first < second)
        return Order::Less;
    return first == second ? Order::Equal : Order::Greater;
}

int looseCategory(const APMPRuntimeValue& value)
{
    switch (value.kind()) {
    case Kind::Undefined:
    case Kind::Null:
        return 0;
    case Kind::Number:
    case Kind::Boolean:
        return 1;
    case Kind::String:
        return 2;
    default:
        return 3;
    }
}

bool looseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPScope& scope, APMError* error)
{
    const bool aLower = looseCategory(a) <= looseCategory(b);
    const APMPRuntimeValue& low = aLower ? a : b;
    const APMPRuntimeValue& high = aLower ? b : a;
    switch (looseCategory(low)) {
    case 0:
        return looseCategory(high) == 0;
    case 1:
        return APMPChargeConversion(high, true, scope, error) && APMPNumberValuesEqual(low, high, error);
    case 2:
        return APMPChargeConversion(high, false, scope, error) && APMPStringValuesEqual(low, high, error);
    default:
        return &a == &b;
    }
}

template <class Test> APMPValue compare(const APMPValueList& values, APMError* error, Test test)
{
    const bool result = test(*values[0], *values[1]);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    return APMPBooleanValue::booleanValueWithBool(result);
}

APMPValue lessThan(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return ordering(a, b, scope, error) == Order::Less; });
}

APMPValue lessThanOrEqual(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return ordering(a, b, scope, error) != Order::Greater; });
}

APMPValue greaterThan(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return ordering(b, a, scope, error) == Order::Less; });
}

APMPValue greaterThanOrEqual(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return ordering(b, a, scope, error) != Order::Greater; });
}

APMPValue looseEqual(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return looseEquals(a, b, scope, error); });
}

APMPValue looseNotEqual(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return compare(values, error,
        [&scope, error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return !looseEquals(a, b, scope, error); });
}

APMPValue strictEqual(const APMPValueList& values, APMPScope&, APMError* error)
{
    return compare(values, error,
        [error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return APMPStrictEquals(a, b, error); });
}

APMPValue strictNotEqual(const APMPValueList& values, APMPScope&, APMError* error)
{
    return compare(values, error,
        [error](const APMPRuntimeValue& a, const APMPRuntimeValue& b) { return !APMPStrictEquals(a, b, error); });
}

// The same comparisons of two numbers (NaN is unordered and unequal), as
// truth values and as values.
bool lessThanNumbers(double a, double b)
{
    return a < b;
}

bool lessThanOrEqualNumbers(double a, double b)
{
    return a <= b;
}

bool greaterThanNumbers(double a, double b)
{
    return a > b;
}

bool greaterThanOrEqualNumbers(double a, double b)
{
    return a >= b;
}

bool equalNumbers(double a, double b)
{
    return a == b;
}

bool notEqualNumbers(double a, double b)
{
    return !(a == b);
}

template <APMPCommandEvaluator::NumberTest test> APMPValue truthValue(double a, double b)
{
    return APMPBooleanValue::booleanValueWithBool(test(a, b));
}

} // namespace

APMPComparisonCommandEvaluator::APMPComparisonCommandEvaluator()
    : APMPCommandEvaluator(Arguments::Evaluated)
{
    using namespace APMPComparisonCommandEvaluatorLocal;
    requiredArgumentCount_ = 2;
    addHandler(12, looseEqual);
    addHandler(18, greaterThan);
    addHandler(19, greaterThanOrEqual);
    addHandler(20, strictEqual);
    addHandler(21, strictNotEqual);
    addHandler(23, lessThan);
    addHandler(24, lessThanOrEqual);
    addHandler(29, looseNotEqual);
    const auto addComparison = [this](int opcode, NumberTest test, NumberOperation operation) {
        addNumberTest(opcode, test);
        addNumberOperation(opcode, operation);
    };
    addComparison(12, equalNumbers, truthValue<equalNumbers>);
    addComparison(18, greaterThanNumbers, truthValue<greaterThanNumbers>);
    addComparison(19, greaterThanOrEqualNumbers, truthValue<greaterThanOrEqualNumbers>);
    addComparison(20, equalNumbers, truthValue<equalNumbers>);
    addComparison(21, notEqualNumbers, truthValue<notEqualNumbers>);
    addComparison(23, lessThanNumbers, truthValue<lessThanNumbers>);
    addComparison(24, lessThanOrEqualNumbers, truthValue<lessThanOrEqualNumbers>);
    addComparison(29, notEqualNumbers, truthValue<notEqualNumbers>);
}
