#include "analytics/rules/APMPKeyValueStore.h"

#include <utility>

APMPKeyValueStore::APMPKeyValueStore(QString functionName, GetValueBlock getValueBlock)
    : functionName_(std::move(functionName))
    , getValueBlock_(std::move(getValueBlock))
{
}

std::optional<QString> APMPKeyValueStore::getValue(const QString& key) const
{
    if (!getValueBlock_)
        return std::nullopt;
    return getValueBlock_(key);
}
