#include "analytics/rules/APMPUndefinedValue.h"

#include "analytics/rules/APMPRuntimeError.h"

APMPValue APMPUndefinedValue::applyWithName(const QString&, const APMPValueList&, APMPScope&, APMError* error)
{
    APMPRuntimeError::set(error, APMPRuntimeError::MethodOfNullOrUndefined);
    return sharedInstance();
}
