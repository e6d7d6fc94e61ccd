#pragma once

#include "analytics/rules/APMPFunctionValue.h"

// "getVersion" of the platform module: the runtime version (0); the
// arguments are ignored and not evaluated.
class APMPFunctionGetVersion final : public APMPFunctionValue {
public:
    APMPFunctionGetVersion();
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;
};
