#include "analytics/rules/APMPMapValue.h"

#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <limits>

using namespace APMPRuntimeError;

namespace APMPMapValueLocal {
const QString kMapHasOwnProperty = QStringLiteral("hasOwnProperty");
}

double APMPMapValue::doubleValueOrError(APMError*) const
{
    return std::numeric_limits<double>::quiet_NaN();
}

APMPValue APMPMapValue::applyWithName(
    const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (const APMPValue* property = properties_.find(name))
        return APMPInvokeMethodProperty(*property, arguments, scope, error);
    if (name == APMPMapValueLocal::kMapHasOwnProperty) {
        const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
        if (failed(error) || !APMPCheckArgumentCount(values, 1, error))
            return APMPUndefinedValue::sharedInstance();
        const QString key = APMPChargedStringValue(*values[0], scope, error);
        if (failed(error))
            return APMPUndefinedValue::sharedInstance();
        return APMPBooleanValue::booleanValueWithBool(properties_.hasName(key));
    }
    return APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

bool APMPMapValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (this == &other)
        return true;
    if (other.kind() != kKind)
        return false;
    const auto& theirs = static_cast<const APMPMapValue&>(other);
    if (theirs.properties_.count() != properties_.count())
        return false;
    const APMPNestingGuard guard(this);
    if (guard.isCycle() || guard.tooDeep())
        return false;
    for (const QString& name : properties_.allNames()) {
        const APMPValue* mine = properties_.find(name);
        const APMPValue* found = theirs.properties_.find(name);
        if (!found || !(*mine)->isEqualToRuntimeValue(**found))
            return false;
    }
    return true;
}

void APMPMapValue::mark(APMPMarker& marker)
{
    if (markEpoch_ == marker.epoch())
        return;
    markEpoch_ = marker.epoch();
    properties_.markValues(marker);
}

void APMPMapValue::sweep(quint64 epoch)
{
    if (markEpoch_ != epoch)
        properties_.clear();
}
