#pragma once

#include "analytics/rules/APMPPropertyMap.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"

#include <memory>

class APMPObjectManager;

// A scope of variables. A root scope (no parent) also carries the state of
// one run: the instruction count, the nesting depth and the object manager.
// The instruction count is visible to programs as the read-only name
// "runtime_counter" of the root scope; programs cannot change it.
class APMPScope final : public APMPMarkable, public std::enable_shared_from_this<APMPScope> {
public:
    static const QString kInstructionCounterName; // "runtime_counter"

    explicit APMPScope(std::shared_ptr<APMPScope> parentScope = nullptr);
    ~APMPScope() override;
    APMPScope(const APMPScope&) = delete;
    APMPScope& operator=(const APMPScope&) = delete;

    std::shared_ptr<APMPScope> createChildScope();
    // Empties a scope nobody else holds, so that it can serve as a fresh
    // child of the same parent. A scope that holds exactly `parameterNames`
    // keeps the names, bound to nothing until the next call of the same
    // function binds every argument by position (bindParameterAt).
    void resetForReuse(const QStringList& parameterNames)
    {
        if (contents_.holdsExactly(parameterNames))
            contents_.releaseValues();
        else
            contents_.reset();
        markEpoch_ = 0;
    }
    // Whether a reused scope still holds its parameters' names.
    bool holdsParameters() const { return contents_.count() != 0; }
    void bindParameterAt(int index, APMPValue&& value) { contents_.replaceValueAt(index, std::move(value)); }
    APMPScope* parentScope() const { return parent_.get(); }
    APMPScope& rootScope() const { return *root_; }

    // Whether this scope or an enclosing one binds the name.
    bool hasName(const QString& name) const;
    // Declares in this scope (ignored when the scope is immutable or the
    // name is a constant here).
    void addValue(const APMPValue& value, const QString& name) { addValue(APMPValue(value), name); }
    void addValue(APMPValue&& value, const QString& name);
    void addImmutableValue(const APMPValue& value, const QString& name);
    // Assigns to the nearest enclosing binding, else declares here.
    void setValue(const APMPValue& value, const QString& name);
    // Assigns to the nearest enclosing binding: false, with nothing
    // written, when no scope binds the name (hasName). In both, an
    // immutable scope between here and the binding, the binding's own
    // included, refuses the write silently.
    bool assignValue(const APMPValue& value, const QString& name);
    // The nearest binding, or the undefined value.
    APMPValue valueForName(const QString& name) const;
    // The same without taking a reference: the value where the scope holds
    // it, valid until the binding changes. A value made for the read (the
    // instruction count) is left in `made`, which holds it.
    const APMPValue& bindingForName(const QString& name, APMPValue& made) const
    {
        for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
            if (const APMPValue* found = scope->contents_.find(name))
                return *found;
        }
        return unboundValue(name, made);
    }
    // The same for a name other than the instruction count's: what the name
    // is bound to, or undefined.
    const APMPValue& boundValue(const QString& name) const
    {
        for (const APMPScope* scope = this; scope; scope = scope->parent_.get()) {
            if (const APMPValue* found = scope->contents_.find(name))
                return *found;
        }
        return APMPUndefinedValue::sharedInstance();
    }
    void makeImmutable() { contents_.makeImmutable(); }
    const APMPPropertyMap& contents() const { return contents_; }

    APMPObjectManager* objectManager() const { return root_->objectManager_.get(); }
    // Only on a root scope.
    void setObjectManager(std::shared_ptr<APMPObjectManager> objectManager);

    // The run state of the root scope.
    int instructionCount() const { return root_->instructionCount_; }
    void resetInstructionCount() { root_->instructionCount_ = 0; }
    // Counts one evaluation; error 18 once the run has made the most allowed.
    bool incrementInstructionCount(APMError* error)
    {
        int& count = root_->instructionCount_;
        if (count >= APMPLimits::kMaxInstructions)
            return refuseInstruction(error);
        ++count;
        return true;
    }
    // Counts bulk work of `units` elements or code units.
    bool chargeWork(qint64 units, APMError* error);
    // The same for work that stays within its instruction while it is as
    // small as programs write it (APMPLimits::kFreeBulkUnits).
    bool chargeWalk(qint64 units, APMError* error)
    {
        return units <= APMPLimits::kFreeBulkUnits || chargeWork(units, error);
    }
    // The most units chargeWork can still take in this run.
    qint64 remainingWorkUnits() const
    {
        return static_cast<qint64>(APMPLimits::kMaxInstructions - root_->instructionCount_)
            * APMPLimits::kUnitsPerInstruction
            + (APMPLimits::kUnitsPerInstruction - 1);
    }
    // Nesting of evaluations; error 19 when too deep.
    bool enterEvaluation(APMError* error)
    {
        if (root_->depth_ >= APMPLimits::kMaxEvaluationDepth)
            return refuseNesting(error);
        ++root_->depth_;
        return true;
    }
    void leaveEvaluation() { --root_->depth_; }
    // Counts a stretch of single steps without a branch at once (`cost`
    // instructions reaching `depth` levels of nesting) and enters the
    // evaluation of its statement, when the whole stretch fits within the
    // budget and the nesting limit; leave it with leaveEvaluation. False,
    // with nothing counted, when it does not fit: the caller then takes the
    // single steps, which stop at the same instruction with the same error.
    bool enterStraight(int cost, int depth)
    {
        APMPScope& root = *root_;
        if (root.instructionCount_ > APMPLimits::kMaxInstructions - cost
            || root.depth_ > APMPLimits::kMaxEvaluationDepth - depth)
            return false;
        root.instructionCount_ += cost;
        ++root.depth_;
        return true;
    }

    // Value lists lent for the length of one call (APMPPooledValueList);
    // only on a root scope, given back in the reverse order.
    APMPValueList* borrowValueList()
    {
        if (lentLists_ == valueLists_.size())
            valueLists_.push_back(std::make_unique<APMPValueList>());
        return valueLists_[lentLists_++].get();
    }
    void giveBackValueList(APMPValueList* values)
    {
        for (APMPValue& value : *values)
            APMPReleaseValue(std::move(value));
        values->clear(); // the capacity stays for the next borrower
        --lentLists_;
    }

    // The return value this run reuses (APMPControlValue); only on a root
    // scope.
    APMPValue& spareReturnValue() { return root_->spareReturnValue_; }

    // Marks the values bound here and every enclosing scope.
    void mark(APMPMarker& marker) override;

private:
    static bool refuseInstruction(APMError* error);
    // The nearest scope from here up that binds the name, or null; whether
    // an immutable scope was met on the way, the binding's own included.
    APMPScope* bindingScope(const QString& name, bool* blocked);
    // What reading a name bound nowhere gives: the instruction count for its
    // name (made in `made`), else undefined.
    const APMPValue& unboundValue(const QString& name, APMPValue& made) const;
    static bool refuseNesting(APMError* error);

    std::shared_ptr<APMPScope> parent_;
    APMPScope* root_;
    APMPPropertyMap contents_;
    quint64 markEpoch_ = 0;
    // Root scope only.
    int instructionCount_ = 0;
    int depth_ = 0;
    std::shared_ptr<APMPObjectManager> objectManager_;
    APMPValue spareReturnValue_;
    // Each list stays in place as the pool grows; an empty pool (every
    // scope that is no root) costs no allocation.
    std::vector<std::unique_ptr<APMPValueList>> valueLists_;
    std::size_t lentLists_ = 0;
};

using APMPScopePtr = std::shared_ptr<APMPScope>;
