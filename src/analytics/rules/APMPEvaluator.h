#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// Evaluation of one value, and of a statement list.
class APMPEvaluator {
public:
    // Counts one instruction, then: a statement goes to its command's
    // evaluator or, for a function name, to the function evaluator; any
    // other value evaluates to itself.
    static APMPValue evaluateStatement(const APMPValue& value, APMPScope& scope, APMError* error);
    // In order; stops at the first error (undefined) or control value (that
    // value); otherwise the last result (undefined for none).
    static APMPValue executeStatements(const APMPValueList& statements, APMPScope& scope, APMError* error);
};
