#include "analytics/rules/APMPFunctionLogUnmonitored.h"

#include "analytics/rules/APMPFunctionLog.h"

APMPFunctionLogUnmonitored::APMPFunctionLogUnmonitored(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(QStringLiteral("unmonitored"))
{
    setValueForProperty(std::make_shared<APMPFunctionLog>(false, false, std::move(logger)), QStringLiteral("log"));
}

APMPValue APMPFunctionLogUnmonitored::invokeWithArguments(const APMPValueList&, APMPScope&, APMError*)
{
    return shared_from_this();
}
