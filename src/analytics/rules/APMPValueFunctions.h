#pragma once

#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPRuntimeValue.h"

#include <QString>

#include <cstdint>

// The conversions, checks and comparisons that every command evaluator of
// the rules runtime shares.

// The property that reads (and, on an array, sets) the length of an array or
// a string.
inline const QString kAPMPLengthProperty = QStringLiteral("length");

// Evaluates each argument statement in order in the scope; stops after the
// first error (the list then ends with that statement's result).
APMPValueList APMPEvaluateArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error);

// A value list borrowed from the run's pool (kept by the root scope) for the
// length of a call, so that evaluating arguments allocates nothing once the
// pool has grown. The list is empty when borrowed and emptied when given back.
class APMPPooledValueList {
public:
    explicit APMPPooledValueList(APMPScope& scope);
    ~APMPPooledValueList();
    APMPPooledValueList(const APMPPooledValueList&) = delete;
    APMPPooledValueList& operator=(const APMPPooledValueList&) = delete;

    APMPValueList& operator*() const { return *values_; }
    APMPValueList* operator->() const { return values_; }

private:
    APMPScope& root_;
    APMPValueList* values_;
};

// Calls a property as a method: a function value is invoked with the
// argument statements in the scope; any other value is error 17.
APMPValue APMPInvokeMethodProperty(
    const APMPValue& property, const APMPValueList& arguments, APMPScope& scope, APMError* error);

// Argument counts: true when the count fits, else error 9.
inline bool APMPCheckArgumentCountBetween(
    const APMPValueList& values, std::size_t low, std::size_t high, APMError* error)
{
    if (values.size() >= low && values.size() <= high)
        return true;
    APMPRuntimeError::set(error, APMPRuntimeError::ArgumentCount);
    return false;
}
inline bool APMPCheckArgumentCount(const APMPValueList& values, std::size_t n, APMError* error)
{
    return APMPCheckArgumentCountBetween(values, n, n, error);
}
inline bool APMPCheckMinimumArgumentCount(const APMPValueList& values, std::size_t n, APMError* error)
{
    return APMPCheckArgumentCountBetween(values, n, static_cast<std::size_t>(-1), error);
}
inline bool APMPCheckMaximumArgumentCount(const APMPValueList& values, std::size_t n, APMError* error)
{
    return APMPCheckArgumentCountBetween(values, 0, n, error);
}

// Array, function, map and string values: the operands that comparison and
// addition treat as text.
bool APMPIsStringLikeValue(const APMPRuntimeValue& value);
// A number or string value whose number is finite, not negative and whole.
bool APMPIsArrayIndexValue(const APMPRuntimeValue& value);

// NaN gives 0; zeros and infinities stay; otherwise truncated toward zero.
double APMPToInteger(double value);
// NaN and infinities give 0; otherwise truncated, reduced modulo 2^32 with
// the sign of the value, then read as 32 bits (a remainder outside the
// signed range gives INT32_MIN).
int32_t APMPToInt32(double value);
uint32_t APMPToUInt32(double value);
// Saturating: NaN gives 0, values beyond the 64-bit range the nearest end.
int64_t APMPToInt64(double value);

// Conversions of a program's operands that charge the run for their work
// first (APMPScope::chargeWork): converting an array touches every element,
// nested arrays included, and the texts it holds; reading a text as a number
// scans all of it. Any other conversion is free. A charge the budget cannot
// take ends the run with error 18 before the work is done.
bool APMPChargeConversion(const APMPRuntimeValue& value, bool toNumber, APMPScope& scope, APMError* error);
QString APMPChargedStringValue(const APMPRuntimeValue& value, APMPScope& scope, APMError* error);
double APMPChargedDoubleValue(const APMPRuntimeValue& value, APMPScope& scope, APMError* error);

bool APMPStringValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error);
bool APMPNumberValuesEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error);
// Same class; numbers and booleans by number, strings by text, others by identity.
bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMError* error);

// "boolean", "function", "number", "string", "undefined" or "object".
QString APMPTypeName(const APMPRuntimeValue& value);

// Guards recursion through nested compound values (conversion to text,
// structural equality, conversion to plain objects): entering beyond the
// nesting limit fails, and a value already being visited is reported as a
// cycle.
class APMPNestingGuard {
public:
    explicit APMPNestingGuard(const APMPRuntimeValue* value);
    ~APMPNestingGuard();
    APMPNestingGuard(const APMPNestingGuard&) = delete;
    APMPNestingGuard& operator=(const APMPNestingGuard&) = delete;

    bool tooDeep() const { return tooDeep_; }
    bool isCycle() const { return cycle_; }

private:
    bool entered_ = false;
    bool tooDeep_ = false;
    bool cycle_ = false;
};
