#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include "analytics/rules/APMPCommandEvaluator.h"

// An unevaluated call: a command (an opcode "0" to "66") or function name
// and its argument values, nested statements among them. Immutable. The
// evaluator of a built-in command is found once, when the statement is made.
class APMPStatementValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Statement;

    APMPStatementValue(QString functionName, APMPValueList arguments);

    const QString& functionName() const { return functionName_; }
    const APMPValueList& arguments() const { return arguments_; }
    // The built-in command's evaluator and opcode, or null and -1 for a
    // function name.
    APMPCommandEvaluator* commandEvaluator() const { return evaluator_; }
    int opcode() const { return opcode_; }
    // The handler when the command's evaluator takes raw arguments.
    APMPCommandEvaluator::Handler rawHandler() const { return rawHandler_; }
    // The name when the statement reads a variable named by a string
    // literal (the common form of a read), else null.
    const QString* variableName() const { return variableName_; }
    // Whether evaluating the value only reads: a literal, or a read of a
    // name given as a literal. Such a value cannot change what another one
    // reads.
    static bool isPlainRead(const APMPValue& value)
    {
        return !value || value->kind() != kKind
            || static_cast<const APMPStatementValue&>(*value).variableName();
    }
    // Whether the statement has exactly two arguments, both plain reads.
    bool hasPlainOperands() const { return plainOperands_; }

    // How the statement is evaluated, found once when it is made.
    enum class Form : quint8 {
        Read, // a read of a name given as a literal (variableName)
        NumberOperands, // plain operands of a command with a short way for two numbers
        NumberCommand, // two other operands of such a command
        RawCommand, // a command that takes its arguments raw (rawHandler)
        Command, // a command that takes its arguments evaluated
        Call, // a call by name
    };
    Form form() const { return form_; }
    // The short ways of a NumberOperands or NumberCommand statement's
    // command (the test only for a comparison, and only on plain operands).
    APMPCommandEvaluator::NumberOperation numberOperation() const { return numberOperation_; }
    APMPCommandEvaluator::NumberTest numberTest() const { return numberTest_; }
    // What a statement without a branch costs as a whole (a read, or an
    // operator on plain operands): the instructions its single steps count
    // and the nesting they reach. Zero when it must be counted step by step:
    // an operand that reads the instruction count sees each step.
    int straightCost() const { return straightCost_; }
    int straightDepth() const { return straightDepth_; }
    // A return with at most one argument.
    bool isPlainReturn() const { return plainReturn_; }
    // A branch whose branches (none, one or two) are all written as
    // statement lists: a function body can run the list taken as statements
    // of its own.
    bool hasListBranches() const { return listBranches_; }

    // Same name and pairwise equal arguments.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;

private:
    QString functionName_;
    APMPValueList arguments_;
    APMPCommandEvaluator* evaluator_ = nullptr;
    int opcode_ = -1;
    APMPCommandEvaluator::Handler rawHandler_ = nullptr;
    const QString* variableName_ = nullptr;
    bool plainOperands_ = false;
    bool plainReturn_ = false;
    bool listBranches_ = false;
    Form form_ = Form::Call;
    quint8 straightCost_ = 0;
    quint8 straightDepth_ = 0;
    APMPCommandEvaluator::NumberOperation numberOperation_ = nullptr;
    APMPCommandEvaluator::NumberTest numberTest_ = nullptr;
};
