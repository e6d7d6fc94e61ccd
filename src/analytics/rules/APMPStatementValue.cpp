#include "analytics/rules/APMPStatementValue.h"

#include "analytics/rules/APMPCommandRegistrar.h"
#include "analytics/rules/APMPStringValue.h"

namespace APMPStatementValueLocal {
constexpr int kReadVariableOpcode = 15;
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
