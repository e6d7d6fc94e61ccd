#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// A number: one IEEE double, immutable.
class APMPNumberValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Number;

    // A number value of the double; small whole numbers come from a shared
    // set, since number values never change.
    static APMPValue valueWithDouble(double value);

    explicit APMPNumberValue(double value)
        : APMPRuntimeValue(kKind)
        , value_(value)
    {
    }

    double value() const { return value_; }

    // NaN, Infinity, -Infinity, "0" for both zeros; otherwise the shortest
    // text that reads back as the same double, in decimal form between 1e-6
    // and 1e21 and in scientific form ("1e+21", "1.5e-7") outside.
    static QString textForDouble(double value);

    QString stringValueOrError(APMError*) const override { return textForDouble(value_); }
    double doubleValueOrError(APMError*) const override { return value_; }
    bool booleanValueOrError(APMError*) const override { return !(value_ == 0 || value_ != value_); }
    // Equal doubles, or both NaN.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;

private:
    double value_;
};
