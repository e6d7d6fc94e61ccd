#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// A truth value. Exactly two instances exist, the shared true and false.
class APMPBooleanValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Boolean;
    static const APMPValue& booleanValueWithBool(bool value)
    {
        static const APMPValue yes = std::make_shared<APMPBooleanValue>(true);
        static const APMPValue no = std::make_shared<APMPBooleanValue>(false);
        return value ? yes : no;
    }

    bool value() const { return value_; }
    QString stringValueOrError(APMError*) const override
    {
        return value_ ? QStringLiteral("true") : QStringLiteral("false");
    }
    double doubleValueOrError(APMError*) const override { return value_ ? 1 : 0; }
    bool booleanValueOrError(APMError*) const override { return value_; }
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override
    {
        return other.kind() == kKind && static_cast<const APMPBooleanValue&>(other).value_ == value_;
    }

    explicit APMPBooleanValue(bool value)
        : APMPRuntimeValue(kKind)
        , value_(value)
    {
    }

private:
    bool value_;
};
