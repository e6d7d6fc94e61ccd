#include "analytics/rules/APMPDynamicProvider.h"

#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPRuntimeValue.h"

void APMPDynamicProvider::setModuleCreator(Creator creator, const QString& name)
{
    if (creator)
        creators_.insert(name, std::move(creator));
    else
        creators_.remove(name);
}

std::shared_ptr<APMPRuntimeValue> APMPDynamicProvider::moduleForName(const QString& name, APMError* error) const
{
    const auto it = creators_.constFind(name);
    if (it == creators_.constEnd())
        return nullptr;
    std::shared_ptr<APMPRuntimeValue> module = (*it)();
    if (!module)
        APMPRuntimeError::set(error, APMPRuntimeError::ModuleCreatorFailed);
    return module;
}
