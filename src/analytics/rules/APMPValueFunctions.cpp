#include "analytics/rules/APMPValueFunctions.h"

#include "analytics/base/APMNumericUtil.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStringValue.h"

#include <cmath>
#include <limits>

using namespace APMPRuntimeError;
using Kind = APMPRuntimeValue::Kind;

namespace APMPValueFunctionsLocal {

thread_local std::vector<const APMPRuntimeValue*> visitedValues;
}

APMPValueList APMPEvaluateArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    APMPValueList values;
    values.reserve(arguments.size());
    for (const APMPValue& argument : arguments) {
        values.push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (failed(error))
            break;
    }
    return values;
}

APMPPooledValueList::APMPPooledValueList(APMPScope& scope)
    : root_(scope.rootScope())
    , values_(root_.borrowValueList())
{
}

APMPPooledValueList::~APMPPooledValueList()
{
    root_.giveBackValueList(values_);
}

APMPValue APMPInvokeMethodProperty(
    const APMPValue& property, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPValue method = property; // the call may replace the property
    auto* function = APMPAs<APMPFunctionValue>(method);
    if (!function) {
        set(error, NoSuchMethod);
        return APMPUndefinedValue::sharedInstance();
    }
    return function->invokeWithArguments(arguments, scope, error);
}

bool APMPIsStringLikeValue(const APMPRuntimeValue& value)
{
    const Kind kind = value.kind();
    return kind == Kind::Array || kind == Kind::Function || kind == Kind::Map || kind == Kind::String;
}

bool APMPIsArrayIndexValue(const APMPRuntimeValue& value)
{
    if (value.kind() != Kind::Number && value.kind() != Kind::String)
        return false;
    APMError error;
    const double number = value.doubleValueOrError(&error);
    return !failed(&error) && std::isfinite(number) && number >= 0 && std::trunc(number) == number;
}

double APMPToInteger(double value)
{
    if (std::isnan(value))
        return 0;
    if (value == 0 || std::isinf(value))
        return value;
    return std::trunc(value);
}

int32_t APMPToInt32(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double remainder = std::fmod(std::trunc(value), 4294967296.0);
    if (remainder < -2147483648.0 || remainder > 2147483647.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(remainder);
}

uint32_t APMPToUInt32(double value)
{
    return static_cast<uint32_t>(APMPToInt32(value));
}

int64_t APMPToInt64(double value)
{
    return APMSaturatingInt64(value);
}

bool APMPChargeConversion(const APMPRuntimeValue& value, bool toNumber, APMPScope& scope, APMError* error)
{
    switch (value.kind()) {
    case Kind::Array:
        return scope.chargeWalk(
            static_cast<const APMPArrayValue&>(value).conversionUnits(scope.remainingWorkUnits()), error);
    case Kind::String: {
        // A text short enough to be a number's is read within its instruction.
        const qsizetype length = static_cast<const APMPStringValue&>(value).value().size();
        return !toNumber || scope.chargeWalk(length, error);
    }
    default:
        return true;
    }
}

QString APMPChargedStringValue(const APMPRuntimeValue& value, APMPScope& scope, APMError* error)
{
    if (!APMPChargeConversion(value, false, scope, error))
        return QString();
    return value.stringValueOrError(error);
}

double APMPChargedDoubleValue(const APMPRuntimeValue& value, APMPScope& scope, APMError* error)
{
    if (!APMPChargeConversion(value, true, scope, error))
        return std::numeric_limits<double>::quiet_NaN();
    return value.doubleValueOrError(error);
}

bool APMPStringValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error)
{
    const QString first = a.stringValueOrError(error);
    if (failed(error))
        return false;
    const QString second = b.stringValueOrError(error);
    if (failed(error))
        return false;
    return first == second;
}

bool APMPNumberValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error)
{
    const double first = a.doubleValueOrError(error);
    if (failed(error))
        return false;
    const double second = b.doubleValueOrError(error);
    if (failed(error))
        return false;
    return first == second;
}

bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error)
{
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
    case Kind::Number:
    case Kind::Boolean:
        return APMPNumberValuesEqual(a, b, error);
    case Kind::String:
        return static_cast<const APMPStringValue&>(a).value() == static_cast<const APMPStringValue&>(b).value();
    default:
        return &a == &b;
    }
}

QString APMPTypeName(const APMPRuntimeValue& value)
{
    switch (value.kind()) {
    case Kind::Boolean:
        return QStringLiteral("boolean");
    case Kind::Function:
        return QStringLiteral("function");
    case Kind::Number:
        return QStringLiteral("number");
    case Kind::String:
        return QStringLiteral("string");
    case Kind::Undefined:
        return QStringLiteral("undefined");
    default:
        return QStringLiteral("object");
    }
}


APMPNestingGuard::APMPNestingGuard(const APMPRuntimeValue* value)
{
    for (const APMPRuntimeValue* visited : APMPValueFunctionsLocal::visitedValues) {
        if (visited == value) {
            cycle_ = true;
            return;
        }
    }
    if (APMPValueFunctionsLocal::visitedValues.size() >= static_cast<std::size_t>(APMPLimits::kMaxConversionDepth)) {
        tooDeep_ = true;
        return;
    }
    APMPValueFunctionsLocal::visitedValues.push_back(value);
    entered_ = true;
}

APMPNestingGuard::~APMPNestingGuard()
{
    if (entered_)
        APMPValueFunctionsLocal::visitedValues.pop_back();
}
