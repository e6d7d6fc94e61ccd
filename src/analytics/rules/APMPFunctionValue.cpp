#include "analytics/rules/APMPFunctionValue.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <limits>

using namespace APMPRuntimeError;

namespace APMPFunctionValueLocal {
const QString kHasOwnProperty = QStringLiteral("hasOwnProperty");
constexpr std::size_t kMaxSpareCallScopes = 64;
}

APMPFunctionValue::APMPFunctionValue(QString functionName, QStringList parameterNames, APMPValueList statements,
    std::shared_ptr<APMPScope> definingScope)
    : APMPRuntimeValue(kKind)
    , functionName_(std::move(functionName))
    , parameterNames_(std::move(parameterNames))
    , statements_(std::move(statements))
    , definingScope_(std::move(definingScope))
    , properties_(std::make_unique<APMPPropertyMap>())
    , scripted_(true)
{
}

APMPFunctionValue::APMPFunctionValue(QString functionName)
    : APMPFunctionValue(std::move(functionName), {}, {}, std::make_shared<APMPScope>())
{
    scripted_ = false;
}

APMPFunctionValue::~APMPFunctionValue()
{
    APMPReleaseValues(std::move(statements_));
}

double APMPFunctionValue::doubleValueOrError(APMError*) const
{
    return std::numeric_limits<double>::quiet_NaN();
}

APMPValue APMPFunctionValue::invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    const APMPPooledValueList values(scope);
    for (const APMPValue& argument : arguments) {
        values->push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (failed(error))
            return APMPUndefinedValue::sharedInstance();
    }
    return invokeWithEvaluatedArguments(*values, error);
}

APMPValue APMPFunctionValue::invokeWithEvaluatedArguments(const APMPValueList& values, APMError* error)
{
    if (!definingScope_)
        return APMPUndefinedValue::sharedInstance();
    std::shared_ptr<APMPScope> callScope = takeCallScope();
    // Hold the function while its body runs: the body may drop the last
    // other reference to it.
    const auto self = shared_from_this();
    for (qsizetype i = 0; i < parameterNames_.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        callScope->addValue(at < values.size() ? values[at] : APMPUndefinedValue::sharedInstance(), parameterNames_[i]);
    }
    return runBody(std::move(callScope), error);
}

APMPValue APMPFunctionValue::callWithArguments(
    std::span<const APMPValue> arguments, APMPScope& scope, APMError* error)
{
    if (!scripted_ || !definingScope_)
        return invokeWithArguments(APMPValueList(arguments.begin(), arguments.end()), scope, error);
    // The call scope is nobody else's until the body runs, so nothing the
    // arguments do can see it.
    std::shared_ptr<APMPScope> callScope = takeCallScope();
    // A scope left by an earlier call of this function may still hold the
    // parameters' names: then each argument goes to its position.
    const bool named = callScope->holdsParameters();
    const auto bind = [&](std::size_t i, APMPValue&& value) {
        if (named)
            callScope->bindParameterAt(static_cast<int>(i), std::move(value));
        else
            callScope->addValue(std::move(value), parameterNames_[static_cast<qsizetype>(i)]);
    };
    const std::size_t parameterCount = static_cast<std::size_t>(parameterNames_.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        APMPValue value = APMPEvaluator::evaluateStatement(arguments[i], scope, error);
        if (failed(error)) {
            APMPReleaseValue(std::move(value));
            recycleCallScope(std::move(callScope));
            return APMPUndefinedValue::sharedInstance();
        }
        if (i < parameterCount)
            bind(i, std::move(value));
        else
            APMPReleaseValue(std::move(value));
    }
    for (std::size_t i = arguments.size(); i < parameterCount; ++i)
        bind(i, APMPValue(APMPUndefinedValue::sharedInstance()));
    return runBody(std::move(callScope), error);
}

std::shared_ptr<APMPScope> APMPFunctionValue::takeCallScope()
{
    if (spareCallScopes_.empty())
        return definingScope_->createChildScope();
    std::shared_ptr<APMPScope> callScope = std::move(spareCallScopes_.back());
    spareCallScopes_.pop_back();
    return callScope;
}

APMPValue APMPFunctionValue::runBody(std::shared_ptr<APMPScope>&& callScope, APMError* error)
{
    APMPValue result = APMPEvaluator::executeBody(statements_, *callScope, error);
    recycleCallScope(std::move(callScope));
    return result;
}

void APMPFunctionValue::recycleCallScope(std::shared_ptr<APMPScope>&& callScope)
{
    // A scope captured by a closure, or one the body made immutable, is
    // left to its holders. The sweep may have cut the function loose while
    // its body ran: then its scopes are not kept either.
    if (callScope.use_count() != 1 || callScope->contents().isImmutable() || !definingScope_
        || spareCallScopes_.size() >= APMPFunctionValueLocal::kMaxSpareCallScopes)
        return;
    callScope->resetForReuse(parameterNames_);
    spareCallScopes_.push_back(std::move(callScope));
}

void APMPFunctionValue::setValueForProperty(const APMPValue& value, const QString& name)
{
    if (properties_)
        properties_->setValue(value, name);
}

APMPValue APMPFunctionValue::valueForProperty(const QString& name) const
{
    return properties_ ? properties_->valueForName(name) : APMPUndefinedValue::sharedInstance();
}

void APMPFunctionValue::removeValueForProperty(const QString& name)
{
    if (properties_)
        properties_->removeValueForName(name);
}

QStringList APMPFunctionValue::allPropertyNames() const
{
    return properties_ ? properties_->allNames() : QStringList();
}

APMPValue APMPFunctionValue::applyWithName(
    const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (properties_) {
        if (const APMPValue* property = properties_->find(name))
            return APMPInvokeMethodProperty(*property, arguments, scope, error);
    }
    if (name == APMPFunctionValueLocal::kHasOwnProperty) {
        const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
        if (failed(error) || !APMPCheckArgumentCount(values, 1, error))
            return APMPUndefinedValue::sharedInstance();
        const QString key = APMPChargedStringValue(*values[0], scope, error);
        if (failed(error))
            return APMPUndefinedValue::sharedInstance();
        return APMPBooleanValue::booleanValueWithBool(hasProperty(key));
    }
    return APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

bool APMPFunctionValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (this == &other)
        return true;
    return other.kind() == kKind && !functionName_.isEmpty()
        && static_cast<const APMPFunctionValue&>(other).functionName_ == functionName_;
}

void APMPFunctionValue::mark(APMPMarker& marker)
{
    if (markEpoch_ == marker.epoch())
        return;
    markEpoch_ = marker.epoch();
    if (properties_)
        properties_->markValues(marker);
    for (const APMPValue& statement : statements_)
        marker.push(statement.get());
    marker.push(definingScope_.get());
}

void APMPFunctionValue::sweep(quint64 epoch)
{
    if (markEpoch_ == epoch)
        return;
    APMPReleaseValues(std::move(statements_));
    statements_.clear();
    properties_.reset();
    spareCallScopes_.clear();
    definingScope_.reset();
}
