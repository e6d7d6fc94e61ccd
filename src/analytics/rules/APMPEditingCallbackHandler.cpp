#include "analytics/rules/APMPEditingCallbackHandler.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPEventContext.h"
#include "analytics/rules/APMPEventNativeFunctions.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

bool APMPEditingCallbackHandler::registerWithPriority(
    qint64 priority, const std::shared_ptr<APMPFunctionValue>& callback, const QString& ruleType, APMError* error)
{
    if (editCallbacks_.size() + createCallbacks_.size() >= kMaxCallbacks) {
        setEditing(error, TooManyCallbacks);
        return false;
    }
    if (ruleType == QLatin1String("create"))
        addCallback(callback, createCallbacks_, priority);
    else if (ruleType == QLatin1String("edit"))
        addCallback(callback, editCallbacks_, priority);
    else {
        setEditing(error, UnknownRuleType);
        return false;
    }
    return true;
}

void APMPEditingCallbackHandler::addCallback(
    const std::shared_ptr<APMPFunctionValue>& callback, Callbacks& callbacks, qint64 priority)
{
    if (callbacks.contains(priority))
        priority = callbacks.lastKey() + 1;
    callbacks.insert(priority, callback);
}

int32_t APMPEditingCallbackHandler::invokeCallbackWithScope(
    APMPScope& scope, APMPFunctionValue& function, const APMPValue& eventHandler, APMError* error)
{
    constexpr int32_t kFailed = 2;
    constexpr int32_t kNotANumber = -1;
    const APMPValue result = function.invokeWithArguments({ eventHandler }, scope, error);
    if (failed(error))
        return kFailed;
    if (const auto* number = APMPAs<APMPNumberValue>(result))
        return APMPToInt32(number->value());
    return kNotANumber;
}

bool APMPEditingCallbackHandler::triggerCallbacksWithScope(
    APMPScope& scope, const std::shared_ptr<APMPEventContext>& context, APMError* error)
{
    const auto eventHandler = std::make_shared<APMPEventNativeFunctions>(context);
    if (APMPObjectManager* manager = scope.objectManager())
        manager->addObject(eventHandler);
    // The callbacks may register further callbacks while they run; run the
    // ones registered now.
    const Callbacks edits = editCallbacks_;
    const Callbacks creates = createCallbacks_;
    for (const auto& callback : edits) {
        const APMPEvent before = context->outputEvent();
        const std::size_t logged = context->eventsToLog().size();
        const int32_t code = invokeCallbackWithScope(scope, *callback, eventHandler, error);
        if (failed(error)) {
            context->setOutputEvent(before);
            context->truncateEventsToLog(logged);
            return false;
        }
        if (code == 2 || code == -1)
            context->setOutputEvent(before);
    }
    for (const auto& callback : creates) {
        const APMPEvent before = context->outputEvent();
        const std::size_t logged = context->eventsToLog().size();
        invokeCallbackWithScope(scope, *callback, eventHandler, error);
        if (failed(error)) {
            context->setOutputEvent(before);
            context->truncateEventsToLog(logged);
            return false;
        }
    }
    return true;
}

void APMPEditingCallbackHandler::mark(APMPMarker& marker)
{
    for (const auto& callback : std::as_const(editCallbacks_))
        marker.push(callback.get());
    for (const auto& callback : std::as_const(createCallbacks_))
        marker.push(callback.get());
}
