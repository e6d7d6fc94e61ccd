#include "analytics/rules/APMPRequire.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

APMPRequire::APMPRequire(std::shared_ptr<APMPDynamicProvider> provider)
    : APMPFunctionValue(QStringLiteral("require"))
    , provider_(std::move(provider))
{
}

APMPValue APMPRequire::moduleForName(const QString& name, APMError* error)
{
    const auto cached = modules_.constFind(name);
    if (cached != modules_.constEnd())
        return *cached;
    APMError failure;
    APMPValue module = provider_->moduleForName(name, &failure);
    if (APMPRuntimeError::failed(&failure)) {
        if (error)
            *error = failure;
        return nullptr;
    }
    modules_.insert(name, module);
    return module;
}

APMPValue APMPRequire::invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (APMPRuntimeError::failed(error) || !APMPCheckArgumentCount(values, 1, error))
        return APMPUndefinedValue::sharedInstance();
    const QString name = values[0]->stringValueOrError(error);
    if (APMPRuntimeError::failed(error))
        return APMPUndefinedValue::sharedInstance();
    APMPValue module = moduleForName(name, error);
    return module ? module : APMPUndefinedValue::sharedInstance();
}

void APMPRequire::mark(APMPMarker& marker)
{
    APMPFunctionValue::mark(marker);
    for (const APMPValue& module : std::as_const(modules_))
        marker.push(module.get());
}
