#include "analytics/rules/APMPRuntimePlatform.h"

#include "analytics/rules/APMPFunctionGetVersion.h"
#include "analytics/rules/APMPUndefinedValue.h"

const QString APMPRuntimePlatform::kFunctionName = QStringLiteral("internal.platform");

APMPRuntimePlatform::APMPRuntimePlatform()
    : APMPFunctionValue(kFunctionName)
{
    setValueForProperty(std::make_shared<APMPFunctionGetVersion>(), QStringLiteral("getVersion"));
}

APMPValue APMPRuntimePlatform::invokeWithArguments(const APMPValueList&, APMPScope&, APMError*)
{
    return APMPUndefinedValue::sharedInstance();
}
