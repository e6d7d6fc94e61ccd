#include "analytics/rules/APMPNullValue.h"

#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"

const APMPValue& APMPNullValue::sharedInstance()
{
    static const APMPValue instance = std::make_shared<APMPNullValue>();
    return instance;
}

APMPValue APMPNullValue::applyWithName(const QString&, const APMPValueList&, APMPScope&, APMError* error)
{
    APMPRuntimeError::set(error, APMPRuntimeError::MethodOfNullOrUndefined);
    return APMPUndefinedValue::sharedInstance();
}
