#pragma once

#include "analytics/rules/APMPFunctionValue.h"

class APMPEventContext;

// The module "internal.eventLogger": a function of three arguments (name,
// timestamp, parameters as a map value) that records a new event in the
// context of the event being handled. Yields undefined.
class APMPEventLogger final : public APMPFunctionValue {
public:
    static const QString kFunctionName; // "internal.eventLogger"

    explicit APMPEventLogger(std::weak_ptr<APMPEventContext> context);
    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    std::weak_ptr<APMPEventContext> context_;
};
