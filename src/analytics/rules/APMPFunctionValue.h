#pragma once

#include "analytics/rules/APMPPropertyMap.h"

#include <QStringList>

#include <span>

class APMPScope;

// A function: a name, parameter names, a body of statements and the scope
// it closes over, plus properties of its own. Also the base of every native
// function the host offers, which overrides invokeWithArguments.
//
// After the collector sweeps an unreachable function, it keeps its name and
// parameter names but has no body, no defining scope and no properties: a
// call yields undefined, a property read undefined, a property write is
// ignored.
class APMPFunctionValue : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Function;

    APMPFunctionValue(QString functionName, QStringList parameterNames, APMPValueList statements,
        std::shared_ptr<APMPScope> definingScope);
    ~APMPFunctionValue() override;

    const QString& functionName() const { return functionName_; }
    const QStringList& parameterNames() const { return parameterNames_; }
    const APMPValueList& statements() const { return statements_; }
    const std::shared_ptr<APMPScope>& definingScope() const { return definingScope_; }

    // Evaluates the argument statements in the caller's scope, then calls.
    virtual APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error);
    // Binds the parameters in a child of the defining scope (missing ones to
    // undefined) and runs the body; a return hands back its data.
    virtual APMPValue invokeWithEvaluatedArguments(const APMPValueList& values, APMError* error);
    // The same as invokeWithArguments, for a caller that holds the function
    // while it runs (a statement naming it, an array method calling back):
    // a script function binds each argument as it is evaluated, without an
    // argument list.
    APMPValue callWithArguments(std::span<const APMPValue> arguments, APMPScope& scope, APMError* error);

    bool hasProperty(const QString& name) const { return properties_ && properties_->hasName(name); }
    void setValueForProperty(const APMPValue& value, const QString& name);
    APMPValue valueForProperty(const QString& name) const;
    void removeValueForProperty(const QString& name);
    QStringList allPropertyNames() const;

    QString stringValueOrError(APMError*) const override { return functionName_; }
    double doubleValueOrError(APMError*) const override;
    bool booleanValueOrError(APMError*) const override { return true; }
    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;
    // The same object, or another function of the same non-empty name.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;

    void mark(APMPMarker& marker) override;
    void sweep(quint64 epoch) override;

protected:
    // A native function: no parameters, no body, a root scope of its own.
    explicit APMPFunctionValue(QString functionName);

private:
    std::shared_ptr<APMPScope> takeCallScope();
    // Runs the body in the call scope (its parameters bound) and recycles
    // the scope.
    APMPValue runBody(std::shared_ptr<APMPScope>&& callScope, APMError* error);
    void recycleCallScope(std::shared_ptr<APMPScope>&& callScope);

    QString functionName_;
    QStringList parameterNames_;
    APMPValueList statements_;
    std::shared_ptr<APMPScope> definingScope_;
    std::unique_ptr<APMPPropertyMap> properties_;
    // Call scopes that no closure kept, ready for the next call (one per
    // level of recursion at most).
    std::vector<std::shared_ptr<APMPScope>> spareCallScopes_;
    quint64 markEpoch_ = 0;
    // Made by a program (not a native function, whose subclass may
    // override the calls).
    bool scripted_ = false;
};
