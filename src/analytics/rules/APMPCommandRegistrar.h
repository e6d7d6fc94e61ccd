#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

#include <array>
#include <memory>
#include <vector>

// Maps every opcode to the evaluator that implements it; every statement
// asks it once, when it is made. One shared instance, immutable once made.
class APMPCommandRegistrar {
public:
    static APMPCommandRegistrar& sharedInstance();

    // The evaluator of a command name and its opcode; null and -1 when the
    // name is no built-in command.
    APMPCommandEvaluator* evaluatorForCommand(const QString& name, int* opcode) const;

    // The same as APMPEvaluator::evaluateStatement: a statement found its
    // evaluator when it was made, so evaluating needs no registrar.
    APMPValue evaluateStatement(const APMPValue& value, APMPScope& scope, APMError* error);

private:
    APMPCommandRegistrar();
    void registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator);

    std::vector<std::unique_ptr<APMPCommandEvaluator>> evaluators_;
    std::array<APMPCommandEvaluator*, APMPCommandEvaluator::kOpcodeCount> commandEvaluators_ {};
};
