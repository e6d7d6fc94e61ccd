#include "analytics/rules/APMPStatementValue.h"

#include "analytics/rules/APMPCommandRegistrar.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"

#include <algorithm>

namespace APMPStatementValueLocal {
constexpr int kReadVariableOpcode = 15;
constexpr int kBranchOpcode = 22;
constexpr int kReturnOpcode = 36;
constexpr int kStatementListOpcode = 46;
}

APMPStatementValue::APMPStatementValue(QString functionName, APMPValueList arguments)
    : APMPRuntimeValue(kKind)
    , functionName_(std::move(functionName))
    , arguments_(std::move(arguments))
{
    evaluator_ = APMPCommandRegistrar::sharedInstance().evaluatorForCommand(functionName_, &opcode_);
    if (evaluator_)
        rawHandler_ = evaluator_->rawHandler(opcode_);
    if (opcode_ == APMPStatementValueLocal::kReadVariableOpcode && arguments_.size() == 1) {
        if (const auto* name = APMPAs<APMPStringValue>(arguments_[0]))
            variableName_ = &name->value();
    }
    plainOperands_ = arguments_.size() == 2 && isPlainRead(arguments_[0]) && isPlainRead(arguments_[1]);
    plainReturn_ = evaluator_ && opcode_ == APMPStatementValueLocal::kReturnOpcode && arguments_.size() <= 1;
    if (evaluator_ && opcode_ == APMPStatementValueLocal::kBranchOpcode && !arguments_.empty()
        && arguments_.size() <= 3) {
        listBranches_ = std::all_of(arguments_.begin() + 1, arguments_.end(), [](const APMPValue& branch) {
            const auto* list = APMPAs<APMPStatementValue>(branch);
            return list && list->evaluator_ && list->opcode_ == APMPStatementValueLocal::kStatementListOpcode;
        });
    }
    if (evaluator_ && arguments_.size() == 2) {
        numberOperation_ = evaluator_->numberOperation(opcode_);
        if (plainOperands_)
            numberTest_ = evaluator_->numberTest(opcode_);
    }
    if (variableName_) {
        form_ = Form::Read;
        // The statement and its literal; the read comes after both, so even
        // the instruction count reads the same.
        straightCost_ = 2;
        straightDepth_ = 1;
    } else if (numberOperation_ && !plainOperands_) {
        form_ = Form::NumberCommand;
    } else if (numberOperation_) {
        form_ = Form::NumberOperands;
        straightCost_ = 1;
        straightDepth_ = 1;
        for (const APMPValue& operand : arguments_) {
            const auto* read = APMPAs<APMPStatementValue>(operand);
            if (read && *read->variableName_ == APMPScope::kInstructionCounterName) {
                straightCost_ = 0;
                break;
            }
            straightCost_ += read ? 2 : 1;
            if (read)
                straightDepth_ = 2;
        }
        if (straightCost_ == 0)
            straightDepth_ = 0;
    } else if (rawHandler_) {
        form_ = Form::RawCommand;
    } else if (evaluator_) {
        form_ = Form::Command;
    }
}

bool APMPStatementValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (this == &other)
        return true;
    if (other.kind() != kKind)
        return false;
    const auto& theirs = static_cast<const APMPStatementValue&>(other);
    if (theirs.functionName_ != functionName_ || theirs.arguments_.size() != arguments_.size())
        return false;
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        if (!arguments_[i]->isEqualToRuntimeValue(*theirs.arguments_[i]))
            return false;
    }
    return true;
}
