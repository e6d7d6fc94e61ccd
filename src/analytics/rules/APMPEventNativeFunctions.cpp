#include "analytics/rules/APMPEventNativeFunctions.h"

#include "analytics/rules/APMPEventContext.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeEntityConverter.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <QHash>

using namespace APMPRuntimeError;

namespace APMPEventNativeFunctionsLocal {

using Entry = APMPValue (*)(APMPEventContext& context, const APMPValueList& values, APMPScope& scope, APMError* error);

const APMPValue& eventUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

APMPValue getEventName(APMPEventContext& context, const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error))
        return eventUndefined();
    return std::make_shared<APMPStringValue>(context.outputEvent().name());
}

APMPValue getParamValue(APMPEventContext& context, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return eventUndefined();
    const QString name = values[0]->stringValueOrError(error);
    if (failed(error))
        return eventUndefined();
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(context.outputEvent().parameterForName(name), scope, error);
}

APMPValue getParams(APMPEventContext& context, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error))
        return eventUndefined();
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(context.outputEvent().parameters(), scope, error);
}

APMPValue getTimestamp(APMPEventContext& context, const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error))
        return eventUndefined();
    return APMPNumberValue::valueWithDouble(context.outputEvent().timestamp());
}

APMPValue setEventName(APMPEventContext& context, const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return eventUndefined();
    if (values[0]->isNullOrUndefined()) {
        set(error, ArgumentType);
        return eventUndefined();
    }
    const QString name = values[0]->stringValueOrError(error);
    if (failed(error))
        return eventUndefined();
    context.outputEvent().setName(name);
    return std::make_shared<APMPStringValue>(name);
}

APMPValue setParamValue(APMPEventContext& context, const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 2, error))
        return eventUndefined();
    const QString name = values[0]->stringValueOrError(error);
    if (failed(error))
        return eventUndefined();
    const QVariant value = APMPRuntimeEntityConverter::objectFromRuntimeValue(*values[1], error);
    if (failed(error))
        return eventUndefined();
    context.outputEvent().setParameter(value, name);
    return values[1];
}

const QHash<QString, Entry>& entries()
{
    static const QHash<QString, Entry> table = {
        { QStringLiteral("getEventName"), getEventName },
        { QStringLiteral("getParamValue"), getParamValue },
        { QStringLiteral("getParams"), getParams },
        { QStringLiteral("getTimestamp"), getTimestamp },
        { QStringLiteral("setEventName"), setEventName },
        { QStringLiteral("setParamValue"), setParamValue },
    };
    return table;
}

} // namespace APMPEventNativeFunctionsLocal

APMPEventNativeFunctions::APMPEventNativeFunctions(std::weak_ptr<APMPEventContext> context)
    : context_(std::move(context))
{
}

APMPValue APMPEventNativeFunctions::applyWithName(
    const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    using namespace APMPEventNativeFunctionsLocal;
    const Entry entry = entries().value(name);
    if (!entry)
        return APMPMapValue::applyWithName(name, arguments, scope, error);
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error))
        return eventUndefined();
    const auto context = context_.lock();
    if (!context)
        return eventUndefined();
    return entry(*context, values, scope, error);
}
