#include "analytics/rules/APMPKeyValueStore.h"

#include "analytics/rules/APMPKeyValueStoreGetValue.h"

APMPKeyValueStore::APMPKeyValueStore(QString functionName, GetValueBlock getValueBlock)
    : APMPFunctionValue(std::move(functionName))
    , getValueBlock_(std::move(getValueBlock))
{
    setValueForProperty(std::make_shared<APMPKeyValueStoreGetValue>(getValueBlock_), QStringLiteral("getValue"));
}

std::optional<QString> APMPKeyValueStore::getValue(const QString& key) const
{
    if (!getValueBlock_)
        return std::nullopt;
    return getValueBlock_(key);
}
