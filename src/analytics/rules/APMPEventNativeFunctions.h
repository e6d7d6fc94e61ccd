#pragma once

#include "analytics/rules/APMPMapValue.h"

class APMPEventContext;

// The event handed to every callback for one event: a map value whose
// methods read and change the context's output event ("getEventName",
// "getParamValue", "getParams", "getTimestamp", "setEventName",
// "setParamValue"). Other method names fall back to the map's own.
class APMPEventNativeFunctions final : public APMPMapValue {
public:
    explicit APMPEventNativeFunctions(std::weak_ptr<APMPEventContext> context);

    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;

private:
    std::weak_ptr<APMPEventContext> context_;
};
