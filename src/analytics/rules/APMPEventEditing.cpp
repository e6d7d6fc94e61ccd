#include "analytics/rules/APMPEventEditing.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPEditingCallbackHandler.h"
#include "analytics/rules/APMPEventLogger.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPRegisterCallbackNativeFunctionValue.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBOgtActivities.h"
#include "analytics/wire/APMPBOgtActivity.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBRuntimeEntity.h"

using namespace APMPRuntimeError;

const QString& APMPEventEditing::kEditingErrorDomain = APMPRuntimeError::kEditingDomain;

namespace APMPEventEditingLocal {

// Slots of the program messages.
constexpr int32_t kProgramInstructions = 0;
constexpr int32_t kProgramActivities = 1;
constexpr int32_t kActivitiesList = 0;
constexpr int32_t kActivityName = 0;
constexpr int32_t kActivityData = 1;

std::vector<const APMPBRuntimeEntity*> pointersTo(const std::vector<std::unique_ptr<APMPBRuntimeEntity>>& entities)
{
    std::vector<const APMPBRuntimeEntity*> pointers;
    pointers.reserve(entities.size());
    for (const auto& entity : entities)
        pointers.push_back(entity.get());
    return pointers;
}

} // namespace APMPEventEditingLocal

APMPEventEditing::APMPEventEditing()
    : APMPEventEditing(std::make_shared<APMPRuntime>())
{
}

APMPEventEditing::APMPEventEditing(std::shared_ptr<APMPRuntime> runtime)
    : runtime_(runtime ? std::move(runtime) : std::make_shared<APMPRuntime>())
    , eventContext_(std::make_shared<APMPEventContext>())
    , callbackHandler_(std::make_shared<APMPEditingCallbackHandler>())
{
    runtime_->addGarbageCollectionRoot(callbackHandler_);
    const std::weak_ptr<APMPEditingCallbackHandler> handler = callbackHandler_;
    runtime_->setModuleCreator(
        [handler]() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPRegisterCallbackNativeFunctionValue>(handler);
        },
        APMPRegisterCallbackNativeFunctionValue::kFunctionName);
    const std::weak_ptr<APMPEventContext> context = eventContext_;
    runtime_->setModuleCreator(
        [context]() -> std::shared_ptr<APMPRuntimeValue> { return std::make_shared<APMPEventLogger>(context); },
        APMPEventLogger::kFunctionName);
}

APMPEventEditing::~APMPEventEditing() = default;

void APMPEventEditing::setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name)
{
    runtime_->setModuleCreator(std::move(creator), name);
}

bool APMPEventEditing::loadProgram(const APMPBProgram& program, APMError* error)
{
    using namespace APMPEventEditingLocal;
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    const auto instructions = APMPBGetArrayField<APMPBRuntimeEntity>(&program, kProgramInstructions);
    const APMPValue result = runtime_->executeStatements(pointersTo(instructions), out);
    if (failed(out))
        return false;
    if (result->kind() == APMPRuntimeValue::Kind::Control) {
        setEditing(out, ProgramEndedInControlValue);
        return false;
    }
    if (const auto activities = APMPBGetMessageField<APMPBOgtActivities>(&program, kProgramActivities)) {
        for (const auto& activity : APMPBGetArrayField<APMPBOgtActivity>(activities.get(), kActivitiesList)) {
            if (!loadActivityData(*activity, out))
                return false;
        }
    }
    runtime_->collectGarbage();
    return true;
}

bool APMPEventEditing::loadActivityData(const APMPBOgtActivity& activity, APMError* error)
{
    using namespace APMPEventEditingLocal;
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    const QString name = APMPBGetStringField(&activity, kActivityName);
    for (const auto& data : APMPBGetArrayField<APMPBRuntimeEntity>(&activity, kActivityData)) {
        const APMPValue rule = runtime_->executeStatements({ data.get() }, out);
        if (failed(out))
            return false;
        if (rule->kind() != APMPRuntimeValue::Kind::Map) {
            setEditing(out, ActivityDataNotMap);
            return false;
        }
        if (!registerRuleWithName(name, rule, out))
            return false;
    }
    return true;
}

bool APMPEventEditing::registerRuleWithName(const QString& name, const APMPValue& rule, APMError* error)
{
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    const APMPScopePtr scope = runtime_->getRunScope();
    const APMPValue bound = scope->valueForName(name);
    auto* function = APMPAs<APMPFunctionValue>(bound);
    if (!function) {
        setEditing(out, NoFunctionForActivity);
        return false;
    }
    function->invokeWithArguments({ rule }, *scope, out);
    return !failed(out);
}

bool APMPEventEditing::handleEvent(const APMPEvent& event, APMError* error)
{
    APMError local;
    APMError* out = error ? error : &local;
    *out = APMError();
    eventContext_->setInputEvent(event);
    runtime_->resetInstructionCount();
    {
        const APMPScopePtr scope = runtime_->getRunScope();
        callbackHandler_->triggerCallbacksWithScope(*scope, eventContext_, out);
    }
    runtime_->collectGarbage();
    if (failed(out))
        return false;
    return hasEdits() || hasCreatedEvents();
}

bool APMPEventEditing::hasEdits() const
{
    // Compared both ways: a parameter the programs removed is an edit too.
    const APMPEvent& output = eventContext_->outputEvent();
    const APMPEvent& input = eventContext_->inputEvent();
    return !output.isEqualToEvent(input) || !input.isEqualToEvent(output);
}
