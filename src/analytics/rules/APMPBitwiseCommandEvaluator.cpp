#include "analytics/rules/APMPBitwiseCommandEvaluator.h"

#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

namespace APMPBitwiseCommandEvaluatorLocal {

bool int32Operands(
    const APMPValueList& values, std::size_t count, int32_t* operands, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, count, error))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        const double number = APMPChargedDoubleValue(*values[i], scope, error);
        if (failed(error))
            return false;
        operands[i] = APMPToInt32(number);
    }
    return true;
}

template <class Operation>
APMPValue binary(const APMPValueList& values, APMPScope& scope, APMError* error, Operation operation)
{
    int32_t operands[2] = {};
    if (!int32Operands(values, 2, operands, scope, error))
        return APMPUndefinedValue::sharedInstance();
    return APMPNumberValue::valueWithDouble(operation(operands[0], operands[1]));
}

APMPValue bitAnd(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error, [](int32_t a, int32_t b) { return static_cast<double>(a & b); });
}

APMPValue bitOr(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error, [](int32_t a, int32_t b) { return static_cast<double>(a | b); });
}

APMPValue bitXor(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error, [](int32_t a, int32_t b) { return static_cast<double>(a ^ b); });
}

APMPValue shiftLeft(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error, [](int32_t a, int32_t b) {
        // Shift the unsigned pattern: shifting a negative signed value is undefined.
        return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(a) << (b & 31)));
    });
}

APMPValue shiftRight(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error, [](int32_t a, int32_t b) { return static_cast<double>(a >> (b & 31)); });
}

APMPValue shiftRightUnsigned(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return binary(values, scope, error,
        [](int32_t a, int32_t b) { return static_cast<double>(static_cast<uint32_t>(a) >> (b & 31)); });
}

APMPValue bitNot(const APMPValueList& values, APMPScope& scope, APMError* error)
{
    int32_t operand = 0;
    if (!int32Operands(values, 1, &operand, scope, error))
        return APMPUndefinedValue::sharedInstance();
    return APMPNumberValue::valueWithDouble(~operand);
}

} // namespace

APMPBitwiseCommandEvaluator::APMPBitwiseCommandEvaluator()
    : APMPCommandEvaluator(Arguments::Evaluated)
{
    using namespace APMPBitwiseCommandEvaluatorLocal;
    addHandler(56, bitAnd);
    addHandler(57, shiftLeft);
    addHandler(58, bitNot);
    addHandler(59, bitOr);
    addHandler(60, shiftRight);
    addHandler(61, shiftRightUnsigned);
    addHandler(62, bitXor);
}
