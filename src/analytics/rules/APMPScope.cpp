#include "analytics/rules/APMPScope.h"

#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"

const QString APMPScope::kInstructionCounterName = QStringLiteral("runtime_counter");

APMPScope::APMPScope(std::shared_ptr<APMPScope> parentScope)
    : parent_(std::move(parentScope))
    , root_(parent_ ? parent_->root_ : this)
{
}

APMPScope::~APMPScope() = default;

std::shared_ptr<APMPScope> APMPScope::createChildScope()
{
    return std::make_shared<APMPScope>(shared_from_this());
}

void APMPScope::setObjectManager(std::shared_ptr<APMPObjectManager> objectManager)
{
    if (root_ == this)
        objectManager_ = std::move(objectManager);
}

bool APMPScope::hasName(const QString& name) const
{
    for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        if (scope->contents_.hasName(name))
            return true;
    }
    return name == kInstructionCounterName;
}

void APMPScope::addValue(APMPValue&& value, const QString& name)
{
    if (root_ == this && name == kInstructionCounterName) {
        APMPReleaseValue(std::move(value));
        return;
    }
    contents_.setValue(std::move(value), name);
}

void APMPScope::addImmutableValue(const APMPValue& value, const QString& name)
{
    if (root_ == this && name == kInstructionCounterName)
        return;
    contents_.setImmutableValue(value, name);
}

APMPScope* APMPScope::bindingScope(const QString& name, bool* blocked)
{
    bool immutable = false;
    for (APMPScope* scope = this; scope; scope = scope->parent_.get()) {
        immutable = immutable || scope->contents_.isImmutable();
        if (scope->contents_.hasName(name)) {
            *blocked = immutable;
            return scope;
        }
    }
    *blocked = immutable;
    return nullptr;
}

void APMPScope::setValue(const APMPValue& value, const QString& name)
{
    // One walk up finds the binding; a name bound nowhere is declared here,
    // except the instruction count's, which no program can write.
    bool blocked = false;
    if (APMPScope* binding = bindingScope(name, &blocked)) {
        if (!blocked)
            binding->addValue(value, name);
        return;
    }
    if (!contents_.isImmutable() && name != kInstructionCounterName)
        addValue(value, name);
}

bool APMPScope::assignValue(const APMPValue& value, const QString& name)
{
    bool blocked = false;
    APMPScope* binding = bindingScope(name, &blocked);
    if (!binding)
        return name == kInstructionCounterName;
    if (!blocked)
        binding->addValue(value, name);
    return true;
}

APMPValue APMPScope::valueForName(const QString& name) const
{
    APMPValue made;
    const APMPValue& found = bindingForName(name, made);
    if (&found == &made)
        return made;
    return found;
}

const APMPValue& APMPScope::unboundValue(const QString& name, APMPValue& made) const
{
    if (name == kInstructionCounterName) {
        made = APMPNumberValue::valueWithDouble(root_->instructionCount_);
        return made;
    }
    return APMPUndefinedValue::sharedInstance();
}

bool APMPScope::refuseInstruction(APMError* error)
{
    APMPRuntimeError::set(error, APMPRuntimeError::InstructionBudgetExhausted);
    return false;
}

bool APMPScope::chargeWork(qint64 units, APMError* error)
{
    if (units < APMPLimits::kUnitsPerInstruction)
        return true;
    int& count = root_->instructionCount_;
    const qint64 cost = units / APMPLimits::kUnitsPerInstruction;
    if (count + cost > APMPLimits::kMaxInstructions) {
        count = APMPLimits::kMaxInstructions;
        APMPRuntimeError::set(error, APMPRuntimeError::InstructionBudgetExhausted);
        return false;
    }
    count += static_cast<int>(cost);
    return true;
}

bool APMPScope::refuseNesting(APMError* error)
{
    APMPRuntimeError::set(error, APMPRuntimeError::LimitExceeded);
    return false;
}

void APMPScope::mark(APMPMarker& marker)
{
    // Scopes are marked once per pass; the enclosing scopes of a closure
    // are reachable through it, so they are marked too.
    for (APMPScope* scope = this; scope && scope->markEpoch_ != marker.epoch(); scope = scope->parent_.get()) {
        scope->markEpoch_ = marker.epoch();
        scope->contents_.markValues(marker);
    }
}
