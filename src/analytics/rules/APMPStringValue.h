#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// A text value (UTF-16 code units), immutable.
class APMPStringValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::String;

    explicit APMPStringValue(QString value)
        : APMPRuntimeValue(kKind)
        , value_(std::move(value))
    {
    }

    const QString& value() const { return value_; }

    // Blanks trimmed; empty gives 0; "NaN", "Infinity", "-Infinity" exactly;
    // otherwise a whole decimal number (sign, digits, fraction, exponent) or
    // NaN. Never an error.
    static double numberForText(const QString& text);

    QString stringValueOrError(APMError*) const override { return value_; }
    double doubleValueOrError(APMError*) const override { return numberForText(value_); }
    bool booleanValueOrError(APMError*) const override { return !value_.isEmpty(); }
    // The string methods.
    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override
    {
        return other.kind() == kKind && static_cast<const APMPStringValue&>(other).value_ == value_;
    }

private:
    QString value_;
};
