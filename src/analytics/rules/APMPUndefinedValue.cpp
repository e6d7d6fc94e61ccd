#include "analytics/rules/APMPUndefinedValue.h"

#include "analytics/rules/APMPRuntimeError.h"

const APMPValue& APMPUndefinedValue::sharedInstance()
{
    static const APMPValue instance = std::make_shared<APMPUndefinedValue>();
    return instance;
}

APMPValue APMPUndefinedValue::applyWithName(const QString&, const APMPValueList&, APMPScope&, APMError* error)
{
    APMPRuntimeError::set(error, APMPRuntimeError::MethodOfNullOrUndefined);
    return sharedInstance();
}
