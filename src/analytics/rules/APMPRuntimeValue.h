#pragma once

#include "analytics/rules/APMPMarkable.h"

#include <QString>

#include <memory>
#include <vector>

class APMError;
class APMPScope;
class APMPRuntimeValue;

using APMPValue = std::shared_ptr<APMPRuntimeValue>;
using APMPValueList = std::vector<APMPValue>;

// A value a rule program works with. Values are shared by reference
// counting among the scopes, arrays, maps, functions and statements that
// hold them; the collector (APMPObjectManager) breaks cycles among script
// objects. Every value is made with std::make_shared or through the object
// manager, so that methods can hand back the receiver.
//
// Conversions and method calls report failures through the error
// out-parameter (never null inside the runtime) and still return a value.
class APMPRuntimeValue : public APMPMarkable, public std::enable_shared_from_this<APMPRuntimeValue> {
public:
    // The class of a value, for cheap kind tests on hot paths.
    enum class Kind : quint8 { Plain, Null, Undefined, Number, String, Boolean, Statement, Function, Array, Map, Control };

    ~APMPRuntimeValue() override = default;
    APMPRuntimeValue(const APMPRuntimeValue&) = delete;
    APMPRuntimeValue& operator=(const APMPRuntimeValue&) = delete;

    Kind kind() const { return kind_; }
    bool isNullOrUndefined() const { return kind_ == Kind::Null || kind_ == Kind::Undefined; }

    // "" / NaN / false with errors 5 / 4 / 3 unless a class gives a form.
    virtual QString stringValueOrError(APMError* error) const;
    virtual double doubleValueOrError(APMError* error) const;
    virtual bool booleanValueOrError(APMError* error) const;

    // A method call on this value with unevaluated argument statements. The
    // base answers "toString" and refuses every other name (error 17).
    virtual APMPValue applyWithName(
        const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error);

    // Structural equality (the same object unless a class says more).
    virtual bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const;

    // Collection: nothing to do for plain values. Script objects (arrays,
    // maps, functions) remember the pass that last marked them; sweep drops
    // what an object holds when that pass was not the current one.
    void mark(APMPMarker&) override { }
    virtual void sweep(quint64 /*epoch*/) { }

protected:
    explicit APMPRuntimeValue(Kind kind = Kind::Plain)
        : kind_(kind)
    {
    }

private:
    Kind kind_;
};

// Tells whether the value is of the given class (by kind, no RTTI).
template <class T> inline T* APMPAs(const APMPValue& value)
{
    return value && value->kind() == T::kKind ? static_cast<T*>(value.get()) : nullptr;
}
template <class T> inline T* APMPAs(APMPRuntimeValue* value)
{
    return value && value->kind() == T::kKind ? static_cast<T*>(value) : nullptr;
}
