#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// The null value: one shared instance.
class APMPNullValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Null;
    static const APMPValue& sharedInstance();

    QString stringValueOrError(APMError*) const override { return QStringLiteral("null"); }
    double doubleValueOrError(APMError*) const override { return 0; }
    bool booleanValueOrError(APMError*) const override { return false; }
    // Every method of null fails with error 7.
    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override { return other.kind() == kKind; }

    APMPNullValue()
        : APMPRuntimeValue(kKind)
    {
    }
};
