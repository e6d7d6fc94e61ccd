#include "analytics/rules/APMPKeyValueStoreGetValue.h"

#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

APMPKeyValueStoreGetValue::APMPKeyValueStoreGetValue(APMPKeyValueStore::GetValueBlock getValueBlock)
    : APMPFunctionValue(QStringLiteral("getValue"))
    , getValueBlock_(std::move(getValueBlock))
{
}

APMPValue APMPKeyValueStoreGetValue::invokeWithArguments(
    const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (APMPRuntimeError::failed(error) || !APMPCheckArgumentCount(values, 2, error))
        return APMPUndefinedValue::sharedInstance();
    const QString key = values[0]->stringValueOrError(error);
    if (APMPRuntimeError::failed(error))
        return APMPUndefinedValue::sharedInstance();
    const std::optional<QString> found = getValueBlock_ ? getValueBlock_(key) : std::nullopt;
    if (found)
        return std::make_shared<APMPStringValue>(*found);
    return values[1];
}
