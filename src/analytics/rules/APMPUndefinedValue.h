#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <limits>

// The undefined value: one shared instance.
class APMPUndefinedValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Undefined;
    static const APMPValue& sharedInstance()
    {
        static const APMPValue instance = std::make_shared<APMPUndefinedValue>();
        return instance;
    }

    QString stringValueOrError(APMError*) const override { return QStringLiteral("undefined"); }
    double doubleValueOrError(APMError*) const override { return std::numeric_limits<double>::quiet_NaN(); }
    bool booleanValueOrError(APMError*) const override { return false; }
    // Every method of undefined fails with error 7.
    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override { return other.kind() == kKind; }

    APMPUndefinedValue()
        : APMPRuntimeValue(kKind)
    {
    }
};
