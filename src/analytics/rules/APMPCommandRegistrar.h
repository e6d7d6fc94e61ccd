#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"
#include "analytics/rules/APMPFunctionEvaluator.h"

#include <array>
#include <memory>
#include <vector>

class APMPStatementValue;

// Maps every opcode to the evaluator that implements it; every evaluation
// in the runtime passes through evaluateStatement. One shared instance,
// immutable once made.
class APMPCommandRegistrar {
public:
    static APMPCommandRegistrar& sharedInstance();

    // The evaluator of a command name and its opcode; null and -1 when the
    // name is no built-in command.
    APMPCommandEvaluator* evaluatorForCommand(const QString& name, int* opcode) const;

    APMPValue evaluateStatement(const APMPValue& value, APMPScope& scope, APMError* error);
    // The same for a value known to be a statement. A statement found its
    // evaluator when it was made, so this needs no registrar.
    static APMPValue evaluateStatementValue(const APMPStatementValue& statement, APMPScope& scope, APMError* error);

private:
    APMPCommandRegistrar();
    void registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator);

    std::vector<std::unique_ptr<APMPCommandEvaluator>> evaluators_;
    std::array<APMPCommandEvaluator*, APMPCommandEvaluator::kOpcodeCount> commandEvaluators_ {};
};
