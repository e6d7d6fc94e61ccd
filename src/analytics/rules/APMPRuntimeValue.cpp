#include "analytics/rules/APMPRuntimeValue.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"

#include <limits>

using namespace APMPRuntimeError;

namespace APMPRuntimeValueLocal {
const QString kToString = QStringLiteral("toString");
}

QString APMPRuntimeValue::stringValueOrError(APMError* error) const
{
    set(error, NoStringValue);
    return QString();
}

double APMPRuntimeValue::doubleValueOrError(APMError* error) const
{
    set(error, NoNumberValue);
    return std::numeric_limits<double>::quiet_NaN();
}

bool APMPRuntimeValue::booleanValueOrError(APMError* error) const
{
    set(error, NoBooleanValue);
    return false;
}

APMPValue APMPRuntimeValue::applyWithName(const QString& name, const APMPValueList&, APMPScope&, APMError* error)
{
    if (name != APMPRuntimeValueLocal::kToString) {
        set(error, NoSuchMethod);
        return APMPUndefinedValue::sharedInstance();
    }
    APMError conversion;
    const QString text = stringValueOrError(&conversion);
    if (failed(&conversion))
        return APMPUndefinedValue::sharedInstance();
    return std::make_shared<APMPStringValue>(text);
}

bool APMPRuntimeValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    return this == &other;
}
