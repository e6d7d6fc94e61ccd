#include "analytics/rules/APMPCommandEvaluator.h"

#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"
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

bool APMPCommandEvaluator::readPlainNumbers(Handler handler, const APMPValueList& arguments, APMPScope& scope,
    APMError* error, double* a, double* b, APMPValue* result)
{
    // Neither operand can change what the other reads, so both are looked
    // at where they are held.
    APMPValue madeFirst;
    APMPValue madeSecond;
    const APMPValue& first = APMPEvaluator::evaluatePlainRead(arguments[0], scope, error, madeFirst);
    if (APMPRuntimeError::failed(error)) {
        *result = APMPUndefinedValue::sharedInstance();
        return false;
    }
    const APMPValue& second = APMPEvaluator::evaluatePlainRead(arguments[1], scope, error, madeSecond);
    if (APMPRuntimeError::failed(error)) {
        *result = APMPUndefinedValue::sharedInstance();
        return false;
    }
    const auto* firstNumber = APMPAs<APMPNumberValue>(first);
    const auto* secondNumber = APMPAs<APMPNumberValue>(second);
    if (firstNumber && secondNumber) {
        *a = firstNumber->value();
        *b = secondNumber->value();
        return true;
    }
    const APMPPooledValueList values(scope);
    values->push_back(first);
    values->push_back(second);
    *result = handler(*values, scope, error);
    return false;
}

APMPValue APMPCommandEvaluator::evaluatePlainOperands(
    int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (requiredArgumentCount_ != 0 && requiredArgumentCount_ != 2) {
        APMPRuntimeError::set(error, APMPRuntimeError::ArgumentCount);
        return APMPUndefinedValue::sharedInstance();
    }
    double a = 0, b = 0;
    APMPValue result;
    if (readPlainNumbers(
            handlers_[static_cast<std::size_t>(opcode)], arguments, scope, error, &a, &b, &result))
        return numberOperations_[static_cast<std::size_t>(opcode)](a, b);
    return result;
}

bool APMPCommandEvaluator::testPlainOperands(
    int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (requiredArgumentCount_ != 0 && requiredArgumentCount_ != 2) {
        APMPRuntimeError::set(error, APMPRuntimeError::ArgumentCount);
        return false;
    }
    double a = 0, b = 0;
    APMPValue result;
    if (readPlainNumbers(
            handlers_[static_cast<std::size_t>(opcode)], arguments, scope, error, &a, &b, &result))
        return numberTests_[static_cast<std::size_t>(opcode)](a, b);
    return !APMPRuntimeError::failed(error) && result->booleanValueOrError(error);
}

APMPValue APMPCommandEvaluator::evaluateTwoOperands(
    NumberOperation operation, Handler handler, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (APMPStatementValue::isPlainRead(arguments[0]) && APMPStatementValue::isPlainRead(arguments[1])) {
        double a = 0, b = 0;
        APMPValue result;
        return readPlainNumbers(handler, arguments, scope, error, &a, &b, &result) ? operation(a, b) : result;
    }
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
