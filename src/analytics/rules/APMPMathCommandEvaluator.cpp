#include "analytics/rules/APMPMathCommandEvaluator.h"

#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <cmath>

using namespace APMPRuntimeError;

namespace APMPMathCommandEvaluatorLocal {

const APMPValue& mathUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

// Both operands as doubles; false on a count or conversion error.
bool twoNumbers(const APMPValueList& values, double* a, double* b, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 2, error))
        return false;
    *a = APMPChargedDoubleValue(*values[0], scope, error);
    if (failed(error))
        return false;
    *b = APMPChargedDoubleValue(*values[1], scope, error);
    return !failed(error);
}

APMPValue addNumbers(double a, double b)
{
    return APMPNumberValue::valueWithDouble(a + b);
}

APMPValue add(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 2, error))
        return mathUndefined();
    if (APMPIsStringLikeValue(*values[0]) || APMPIsStringLikeValue(*values[1])) {
        const QString first = APMPChargedStringValue(*values[0], scope, error);
        if (failed(error))
            return mathUndefined();
        const QString second = APMPChargedStringValue(*values[1], scope, error);
        if (failed(error))
            return mathUndefined();
        const qsizetype length = first.size() + second.size();
        if (length > APMPLimits::kMaxStringLength) {
            set(error, LimitExceeded);
            return mathUndefined();
        }
        if (!scope.chargeWork(length, error))
            return mathUndefined();
        return std::make_shared<APMPStringValue>(first + second);
    }
    double a = 0, b = 0;
    if (!twoNumbers(values, &a, &b, scope, error))
        return mathUndefined();
    return addNumbers(a, b);
}

APMPValue subtractNumbers(double a, double b)
{
    return APMPNumberValue::valueWithDouble(a - b);
}

APMPValue subtract(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    double a = 0, b = 0;
    return twoNumbers(values, &a, &b, scope, error) ? subtractNumbers(a, b) : mathUndefined();
}

APMPValue multiplyNumbers(double a, double b)
{
    return APMPNumberValue::valueWithDouble(a * b);
}

APMPValue multiply(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    double a = 0, b = 0;
    return twoNumbers(values, &a, &b, scope, error) ? multiplyNumbers(a, b) : mathUndefined();
}

APMPValue divideNumbers(double a, double b)
{
    return APMPNumberValue::valueWithDouble(a / b);
}

APMPValue divide(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    double a = 0, b = 0;
    return twoNumbers(values, &a, &b, scope, error) ? divideNumbers(a, b) : mathUndefined();
}

APMPValue remainderNumbers(double a, double b)
{
    return APMPNumberValue::valueWithDouble(std::fmod(a, b));
}

APMPValue remainder(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    double a = 0, b = 0;
    return twoNumbers(values, &a, &b, scope, error) ? remainderNumbers(a, b) : mathUndefined();
}

APMPValue negate(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return mathUndefined();
    const double a = APMPChargedDoubleValue(*values[0], scope, error);
    return failed(error) ? mathUndefined() : APMPNumberValue::valueWithDouble(-a);
}

APMPValue firstOfTwo(const APMPValueList& values, APMPScope&, APMError* error)
{
    return APMPCheckArgumentCount(values, 2, error) ? values[0] : mathUndefined();
}

APMPValue onlyOne(const APMPValueList& values, APMPScope&, APMError* error)
{
    return APMPCheckArgumentCount(values, 1, error) ? values[0] : mathUndefined();
}

} // namespace

APMPMathCommandEvaluator::APMPMathCommandEvaluator()
    : APMPCommandEvaluator(Arguments::Evaluated)
{
    using namespace APMPMathCommandEvaluatorLocal;
    addHandler(0, add);
    addHandler(10, divide);
    addHandler(25, remainder);
    addHandler(26, multiply);
    addHandler(27, negate);
    addHandler(32, firstOfTwo);
    addHandler(33, firstOfTwo);
    addHandler(34, onlyOne);
    addHandler(35, onlyOne);
    addHandler(37, subtract);
    addNumberOperation(0, addNumbers);
    addNumberOperation(10, divideNumbers);
    addNumberOperation(25, remainderNumbers);
    addNumberOperation(26, multiplyNumbers);
    addNumberOperation(37, subtractNumbers);
}
