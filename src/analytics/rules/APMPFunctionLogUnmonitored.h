#pragma once

#include "analytics/rules/APMPFunctionValue.h"

class APMPLoggerDelegate;

// "unmonitored" of the logger module: its "log" writes lines that are
// neither silent nor monitored. Calling it yields itself.
class APMPFunctionLogUnmonitored final : public APMPFunctionValue {
public:
    explicit APMPFunctionLogUnmonitored(std::shared_ptr<APMPLoggerDelegate> logger);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;
};
