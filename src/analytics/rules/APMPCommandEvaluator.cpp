#include "analytics/rules/APMPCommandEvaluator.h"

#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

int APMPCommandEvaluator::opcodeForCommand(const QString& command)
{
    const qsizetype size = command.size();
    if (size == 0 || size > 2 || (size == 2 && command[0] == u'0'))
        return -1;
    int opcode = 0;
    for (QChar c : command) {
        if (c < u'0' || c > u'9')
            return -1;
        opcode = opcode * 10 + (c.unicode() - u'0');
    }
    return opcode < kOpcodeCount ? opcode : -1;
}

APMPValue APMPCommandEvaluator::evaluateCommand(
    const QString& command, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const int opcode = opcodeForCommand(command);
    if (opcode < 0)
        return APMPUndefinedValue::sharedInstance();
    return evaluateOpcode(opcode, arguments, scope, error);
}

QStringList APMPCommandEvaluator::allSupportedCommands() const
{
    QStringList commands;
    for (int opcode = 0; opcode < kOpcodeCount; ++opcode) {
        if (handlers_[static_cast<std::size_t>(opcode)])
            commands << QString::number(opcode);
    }
    return commands;
}

APMPValue APMPCommandEvaluator::evaluateOpcode(
    int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const Handler handler = opcode >= 0 && opcode < kOpcodeCount ? handlers_[static_cast<std::size_t>(opcode)] : nullptr;
    if (!handler)
        return APMPUndefinedValue::sharedInstance();
    if (arguments_ == Arguments::Raw)
        return handler(arguments, scope, error);
    if (requiredArgumentCount_ != 0 && arguments.size() != requiredArgumentCount_) {
        APMPRuntimeError::set(error, APMPRuntimeError::ArgumentCount);
        return APMPUndefinedValue::sharedInstance();
    }
    if (arguments.size() == 2) {
        if (const NumberOperation operation = numberOperations_[static_cast<std::size_t>(opcode)])
            return evaluateTwoOperands(operation, handler, arguments, scope, error);
    }
    // The evaluated arguments go to a list kept per nesting level, so that
    // evaluating a command allocates nothing once the lists have grown.
    const APMPPooledValueList values(scope);
    for (const APMPValue& argument : arguments) {
        values->push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (APMPRuntimeError::failed(error))
            return APMPUndefinedValue::sharedInstance();
    }
    return handler(*values, scope, error);
}

APMPValue APMPCommandEvaluator::evaluateTwoOperands(
    NumberOperation operation, Handler handler, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    APMPValue first = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (APMPRuntimeError::failed(error)) {
        APMPReleaseValue(std::move(first));
        return APMPUndefinedValue::sharedInstance();
    }
    APMPValue second = APMPEvaluator::evaluateStatement(arguments[1], scope, error);
    if (APMPRuntimeError::failed(error)) {
        APMPReleaseValue(std::move(first));
        APMPReleaseValue(std::move(second));
        return APMPUndefinedValue::sharedInstance();
    }
    const auto* a = APMPAs<APMPNumberValue>(first);
    const auto* b = APMPAs<APMPNumberValue>(second);
    if (a && b)
        return operation(a->value(), b->value());
    const APMPPooledValueList values(scope);
    values->push_back(std::move(first));
    values->push_back(std::move(second));
    return handler(*values, scope, error);
}
