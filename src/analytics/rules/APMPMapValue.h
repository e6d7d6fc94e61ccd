#pragma once

#include "analytics/rules/APMPPropertyMap.h"

// An object of named properties. Its text is always "[object Object]".
class APMPMapValue : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Map;

    APMPMapValue()
        : APMPRuntimeValue(kKind)
    {
    }

    bool hasProperty(const QString& name) const { return properties_.hasName(name); }
    void setValueForProperty(const APMPValue& value, const QString& name) { properties_.setValue(value, name); }
    const APMPValue& valueForProperty(const QString& name) const { return properties_.valueForName(name); }
    void removeValueForProperty(const QString& name) { properties_.removeValueForName(name); }
    QStringList allPropertyNames() const { return properties_.allNames(); }
    int propertyCount() const { return properties_.count(); }

    QString stringValueOrError(APMError*) const override { return QStringLiteral("[object Object]"); }
    double doubleValueOrError(APMError*) const override;
    bool booleanValueOrError(APMError*) const override { return true; }
    // A function-valued property of that name, else "hasOwnProperty", else
    // the base methods.
    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;
    // Same names with equal values.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;

    void mark(APMPMarker& marker) override;
    void sweep(quint64 epoch) override;

private:
    APMPPropertyMap properties_;
    quint64 markEpoch_ = 0;
};
