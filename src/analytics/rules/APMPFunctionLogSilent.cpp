#include "analytics/rules/APMPFunctionLogSilent.h"

#include "analytics/rules/APMPFunctionLog.h"

APMPFunctionLogSilent::APMPFunctionLogSilent(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(QStringLiteral("silent"))
{
    setValueForProperty(std::make_shared<APMPFunctionLog>(true, true, std::move(logger)), QStringLiteral("log"));
}

APMPValue APMPFunctionLogSilent::invokeWithArguments(const APMPValueList&, APMPScope&, APMError*)
{
    return shared_from_this();
}
