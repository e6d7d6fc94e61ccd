#pragma once

#include "analytics/rules/APMPFunctionValue.h"

class APMPEditingCallbackHandler;

// The module "internal.registerCallback": a function of three arguments
// (ignored, the callback function, an options map with "type" and an
// optional "priority", 1000 when absent) that registers a rule callback.
// Yields undefined.
class APMPRegisterCallbackNativeFunctionValue final : public APMPFunctionValue {
public:
    static const QString kFunctionName; // "internal.registerCallback"
    static constexpr qint64 kDefaultPriority = 1000;

    explicit APMPRegisterCallbackNativeFunctionValue(std::weak_ptr<APMPEditingCallbackHandler> callbackHandler);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler_;
};
