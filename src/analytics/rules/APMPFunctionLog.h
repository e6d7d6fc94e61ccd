#pragma once

#include "analytics/rules/APMPFunctionValue.h"

class APMPLoggerDelegate;

// "log" of the logger module. One argument: its text at rule level 4.
// Two or more: a level, a message and up to three context texts (further
// arguments are evaluated but not used). The sink also receives the
// function's silent and monitored flags. Yields undefined.
class APMPFunctionLog final : public APMPFunctionValue {
public:
    APMPFunctionLog(bool silent, bool monitored, std::shared_ptr<APMPLoggerDelegate> logger);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    bool silent_;
    bool monitored_;
    std::shared_ptr<APMPLoggerDelegate> logger_;
};
