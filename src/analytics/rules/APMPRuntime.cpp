#include "analytics/rules/APMPRuntime.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPRuntimeValue.h"

const QString APMPRuntime::kErrorDomain = QStringLiteral("com.vireo.vmp.measurement.pixie.ErrorDomain");

void APMPRuntime::setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name)
{
    provider_.setModuleCreator(std::move(creator), name);
}

std::shared_ptr<APMPRuntimeValue> APMPRuntime::require(const QString& name, APMError* error)
{
    const auto cached = modules_.constFind(name);
    if (cached != modules_.constEnd())
        return *cached;
    APMError failure;
    std::shared_ptr<APMPRuntimeValue> module = provider_.moduleForName(name, &failure);
    if (failure.code() != 0) {
        if (error)
            *error = failure;
        return nullptr;
    }
    modules_.insert(name, module);
    return module;
}
