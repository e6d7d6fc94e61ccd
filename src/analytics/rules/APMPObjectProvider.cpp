#include "analytics/rules/APMPObjectProvider.h"

#include <utility>

APMPObjectProvider::APMPObjectProvider(QString name, ObjectProviderBlock block)
    : name_(std::move(name))
    , block_(std::move(block))
{
}

QVariant APMPObjectProvider::object() const
{
    return block_ ? block_() : QVariant();
}
