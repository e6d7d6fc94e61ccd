#include "analytics/rules/APMPRuntime.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRequire.h"
#include "analytics/rules/APMPRuntimeEntityConverter.h"
#include "analytics/rules/APMPRuntimePlatform.h"
#include "analytics/rules/APMPUndefinedValue.h"

const QString& APMPRuntime::kErrorDomain = APMPRuntimeError::kDomain;

APMPRuntime::APMPRuntime()
    : objectManager_(std::make_shared<APMPObjectManager>())
    , initScope_(std::make_shared<APMPScope>())
    , apiProvider_(std::make_shared<APMPDynamicProvider>())
{
    globalScope_ = initScope_->createChildScope();
    initScope_->setObjectManager(objectManager_);
    objectManager_->addRoot(initScope_);
    objectManager_->addRoot(globalScope_);
    require_ = std::make_shared<APMPRequire>(apiProvider_);
    globalScope_->setValue(require_, require_->functionName());
    apiProvider_->setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> { return std::make_shared<APMPRuntimePlatform>(); },
        APMPRuntimePlatform::kFunctionName);
    resetInstructionCount();
}

APMPRuntime::~APMPRuntime()
{
    // Break the cycles among what programs left behind (closures held by
    // the scopes that define them), so that their memory is released.
    objectManager_->sweepEverything();
    APMPControlValue::releaseSpare(initScope_->spareReturnValue());
}

void APMPRuntime::setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name)
{
    apiProvider_->setModuleCreator(std::move(creator), name);
}

std::shared_ptr<APMPRuntimeValue> APMPRuntime::require(const QString& name, APMError* error)
{
    return require_->moduleForName(name, error);
}

APMPValue APMPRuntime::executeStatements(const std::vector<const APMPBRuntimeEntity*>& entities, APMError* error)
{
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    APMPValue result = runStatements(entities, out);
    // The return value a run reuses must not outlive it holding data.
    APMPControlValue::releaseSpare(globalScope_->spareReturnValue());
    return result;
}

APMPValue APMPRuntime::runStatements(const std::vector<const APMPBRuntimeEntity*>& entities, APMError* out)
{
    APMPValue result = APMPUndefinedValue::sharedInstance();
    for (const APMPBRuntimeEntity* entity : entities) {
        const APMPValue statement = APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, out);
        if (APMPRuntimeError::failed(out))
            return APMPUndefinedValue::sharedInstance();
        result = APMPEvaluator::evaluateStatement(statement, *globalScope_, out);
        if (APMPRuntimeError::failed(out))
            return APMPUndefinedValue::sharedInstance();
    }
    return result;
}

APMPScopePtr APMPRuntime::getRunScope()
{
    return globalScope_->createChildScope();
}

int APMPRuntime::getInstructionCount(APMError*) const
{
    return initScope_->instructionCount();
}

void APMPRuntime::resetInstructionCount()
{
    initScope_->resetInstructionCount();
}

void APMPRuntime::addGarbageCollectionRoot(const std::shared_ptr<APMPMarkable>& root)
{
    objectManager_->addRoot(root);
}

void APMPRuntime::collectGarbage()
{
    objectManager_->collectGarbage();
}
