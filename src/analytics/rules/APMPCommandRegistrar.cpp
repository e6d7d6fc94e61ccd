#include "analytics/rules/APMPCommandRegistrar.h"

#include "analytics/rules/APMPBitwiseCommandEvaluator.h"
#include "analytics/rules/APMPComparisonCommandEvaluator.h"
#include "analytics/rules/APMPControlCommandEvaluator.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPLogicalCommandEvaluator.h"
#include "analytics/rules/APMPLoopCommandEvaluator.h"
#include "analytics/rules/APMPMathCommandEvaluator.h"
#include "analytics/rules/APMPVariableCommandEvaluator.h"

APMPCommandRegistrar& APMPCommandRegistrar::sharedInstance()
{
    static APMPCommandRegistrar* registrar = new APMPCommandRegistrar(); // lives as long as the process
    return *registrar;
}

APMPCommandRegistrar::APMPCommandRegistrar()
{
    registerEvaluator(std::make_unique<APMPBitwiseCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPComparisonCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPControlCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPLogicalCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPLoopCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPMathCommandEvaluator>());
    registerEvaluator(std::make_unique<APMPVariableCommandEvaluator>());
}

void APMPCommandRegistrar::registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator)
{
    for (const QString& command : evaluator->allSupportedCommands()) {
        const int opcode = APMPCommandEvaluator::opcodeForCommand(command);
        if (opcode >= 0)
            commandEvaluators_[static_cast<std::size_t>(opcode)] = evaluator.get();
    }
    evaluators_.push_back(std::move(evaluator));
}

APMPCommandEvaluator* APMPCommandRegistrar::evaluatorForCommand(const QString& name, int* opcode) const
{
    const int found = APMPCommandEvaluator::opcodeForCommand(name);
    APMPCommandEvaluator* evaluator = found >= 0 ? commandEvaluators_[static_cast<std::size_t>(found)] : nullptr;
    if (opcode)
        *opcode = evaluator ? found : -1;
    return evaluator;
}

APMPValue APMPCommandRegistrar::evaluateStatement(const APMPValue& value, APMPScope& scope, APMError* error)
{
    return APMPEvaluator::evaluateStatement(value, scope, error);
}
