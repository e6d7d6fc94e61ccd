#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// Runs a statement whose name is not a built-in command: a function value
// bound under that name in scope is called with the raw arguments; any
// other binding, or none, yields undefined without error (and the
// arguments are not evaluated).
class APMPFunctionEvaluator final : public APMPCommandEvaluator {
public:
    APMPValue evaluateCommand(
        const QString& command, const APMPValueList& arguments, APMPScope& scope, APMError* error) override;
    // The same without an evaluator object (the statement dispatch's path).
    static APMPValue callFunction(
        const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error);
};
