#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QStringList>

#include <array>

// The base of the evaluators that implement the runtime's built-in commands.
// A command is named by its opcode, a decimal string "0" to "66". Value
// evaluators receive their arguments evaluated, left to right; statement
// evaluators receive them raw and evaluate what they need themselves.
class APMPCommandEvaluator {
public:
    static constexpr int kOpcodeCount = 67;
    using Handler = APMPValue (*)(const APMPValueList& arguments, APMPScope& scope, APMError* error);
    // A two-operand command on two number values: the common case of the
    // arithmetic and comparison operators, which then needs no argument
    // list. Its result must be the handler's for the same operands.
    using NumberOperation = APMPValue (*)(double first, double second);
    // The same for a command whose result is a truth value (a comparison),
    // giving the truth itself, so that a condition needs no value.
    using NumberTest = bool (*)(double first, double second);

    virtual ~APMPCommandEvaluator() = default;

    // The command's result; a command without a handler yields undefined
    // without error.
    virtual APMPValue evaluateCommand(
        const QString& command, const APMPValueList& arguments, APMPScope& scope, APMError* error);
    virtual QStringList allSupportedCommands() const;

    // The same, by opcode (the registrar's fast path).
    APMPValue evaluateOpcode(int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error);

    // The handler of a statement evaluator's opcode, which takes the raw
    // arguments and can be called directly; null for a value evaluator or
    // an opcode without a handler.
    Handler rawHandler(int opcode) const
    {
        return arguments_ == Arguments::Raw && opcode >= 0 && opcode < kOpcodeCount
            ? handlers_[static_cast<std::size_t>(opcode)]
            : nullptr;
    }

    // The opcode a command name stands for: its canonical decimal form
    // between 0 and 66, else -1.
    static int opcodeForCommand(const QString& command);

    // Whether the opcode has a short way for two numbers, and a truth test.
    bool hasNumberOperation(int opcode) const { return numberOperations_[static_cast<std::size_t>(opcode)]; }
    bool hasNumberTest(int opcode) const { return numberTests_[static_cast<std::size_t>(opcode)]; }
    // The handler of an opcode, however it takes its arguments.
    Handler handler(int opcode) const { return handlers_[static_cast<std::size_t>(opcode)]; }
    NumberOperation numberOperation(int opcode) const { return numberOperations_[static_cast<std::size_t>(opcode)]; }
    NumberTest numberTest(int opcode) const { return numberTests_[static_cast<std::size_t>(opcode)]; }
    // The opcode of a statement with two plain operands
    // (APMPStatementValue::hasPlainOperands) that hasNumberOperation: the
    // result evaluateOpcode gives, the operands read where they are held.
    APMPValue evaluatePlainOperands(
        int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error);
    // The same for an opcode that hasNumberTest, read as a truth value
    // (false after an error).
    bool testPlainOperands(int opcode, const APMPValueList& arguments, APMPScope& scope, APMError* error);
    // The result evaluateOpcode gives for two arguments of an opcode with a
    // short way for numbers: the operation on two numbers, else the handler.
    APMPValue evaluateTwoOperands(NumberOperation operation, Handler handler, const APMPValueList& arguments,
        APMPScope& scope, APMError* error);

protected:
    enum class Arguments { Evaluated, Raw };
    explicit APMPCommandEvaluator(Arguments arguments = Arguments::Raw)
        : arguments_(arguments)
    {
    }
    void addHandler(int opcode, Handler handler) { handlers_[static_cast<std::size_t>(opcode)] = handler; }
    void addNumberOperation(int opcode, NumberOperation operation)
    {
        numberOperations_[static_cast<std::size_t>(opcode)] = operation;
    }
    void addNumberTest(int opcode, NumberTest test) { numberTests_[static_cast<std::size_t>(opcode)] = test; }
    // Checked before any argument is evaluated (the comparison operators
    // require exactly two).
    std::size_t requiredArgumentCount_ = 0;

private:
    Arguments arguments_;
    // Reads two plain operands in place: true with both numbers in `a`
    // and `b`, or false with the handler's result in `result` (undefined
    // after an error).
    static bool readPlainNumbers(Handler handler, const APMPValueList& arguments, APMPScope& scope,
        APMError* error, double* a, double* b, APMPValue* result);

    std::array<Handler, kOpcodeCount> handlers_ {};
    std::array<NumberOperation, kOpcodeCount> numberOperations_ {};
    std::array<NumberTest, kOpcodeCount> numberTests_ {};
};
