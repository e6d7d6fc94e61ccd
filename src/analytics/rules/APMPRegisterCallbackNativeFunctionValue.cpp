#include "analytics/rules/APMPRegisterCallbackNativeFunctionValue.h"

#include "analytics/rules/APMPEditingCallbackHandler.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

using namespace APMPRuntimeError;

const QString APMPRegisterCallbackNativeFunctionValue::kFunctionName = QStringLiteral("internal.registerCallback");

APMPRegisterCallbackNativeFunctionValue::APMPRegisterCallbackNativeFunctionValue(
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler)
    : APMPFunctionValue(kFunctionName)
    , callbackHandler_(std::move(callbackHandler))
{
}

APMPValue APMPRegisterCallbackNativeFunctionValue::invokeWithArguments(
    const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const QString kType = QStringLiteral("type");
    const QString kPriority = QStringLiteral("priority");
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error) || !APMPCheckArgumentCount(values, 3, error))
        return APMPUndefinedValue::sharedInstance();
    const auto callback = std::dynamic_pointer_cast<APMPFunctionValue>(values[1]);
    const auto* options = APMPAs<APMPMapValue>(values[2]);
    if (!callback || !options) {
        set(error, ArgumentType);
        return APMPUndefinedValue::sharedInstance();
    }
    if (!options->hasProperty(kType)) {
        setEditing(error, CallbackWithoutType);
        return APMPUndefinedValue::sharedInstance();
    }
    const QString type = options->valueForProperty(kType)->stringValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    qint64 priority = kDefaultPriority;
    if (options->hasProperty(kPriority)) {
        priority = APMPToInt32(options->valueForProperty(kPriority)->doubleValueOrError(error));
        if (failed(error))
            return APMPUndefinedValue::sharedInstance();
    }
    if (const auto handler = callbackHandler_.lock())
        handler->registerWithPriority(priority, callback, type, error);
    return APMPUndefinedValue::sharedInstance();
}
