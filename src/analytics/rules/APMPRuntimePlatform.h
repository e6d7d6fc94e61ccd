#pragma once

#include "analytics/rules/APMPFunctionValue.h"

// The module "internal.platform": its "getVersion" answers the runtime
// version. Calling the module itself yields undefined.
class APMPRuntimePlatform final : public APMPFunctionValue {
public:
    static const QString kFunctionName; // "internal.platform"
    APMPRuntimePlatform();
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;
};
