#include "analytics/rules/APMPBooleanValue.h"

const APMPValue& APMPBooleanValue::booleanValueWithBool(bool value)
{
    static const APMPValue yes = std::make_shared<APMPBooleanValue>(true);
    static const APMPValue no = std::make_shared<APMPBooleanValue>(false);
    return value ? yes : no;
}
