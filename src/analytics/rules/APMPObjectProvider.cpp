#include "analytics/rules/APMPObjectProvider.h"

#include "analytics/rules/APMPRuntimeEntityConverter.h"

APMPObjectProvider::APMPObjectProvider(QString name, ObjectProviderBlock block)
    : APMPFunctionValue(std::move(name))
    , block_(std::move(block))
{
}

QVariant APMPObjectProvider::object() const
{
    return block_ ? block_() : QVariant();
}

APMPValue APMPObjectProvider::invokeWithArguments(const APMPValueList&, APMPScope& scope, APMError* error)
{
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(object(), scope, error);
}
