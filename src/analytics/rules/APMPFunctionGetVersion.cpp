#include "analytics/rules/APMPFunctionGetVersion.h"

#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntime.h"

APMPFunctionGetVersion::APMPFunctionGetVersion()
    : APMPFunctionValue(QStringLiteral("getVersion"))
{
}

APMPValue APMPFunctionGetVersion::invokeWithArguments(const APMPValueList&, APMPScope&, APMError*)
{
    return APMPNumberValue::valueWithDouble(static_cast<double>(APMPRuntime::runtimeVersion()));
}
