#pragma once

#include "analytics/rules/APMPFunctionValue.h"

class APMPLoggerDelegate;

// "silent" of the logger module: its "log" writes silent, monitored lines.
// Calling it yields itself, so a call and a property read both reach "log".
class APMPFunctionLogSilent final : public APMPFunctionValue {
public:
    explicit APMPFunctionLogSilent(std::shared_ptr<APMPLoggerDelegate> logger);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;
};
