#pragma once

#include "analytics/base/APMDecimalNumber.h"

// The parsed comparison values of one number filter, for the exact decimal
// comparison: the single value of "less than", "greater than" and "equal",
// or both ends of "between". `valid` turns false as soon as one needed value
// is missing or not a number.
struct APMAudienceComparisonValues {
    bool valid = true;
    APMDecimalNumber comparisonValue;
    APMDecimalNumber minComparisonValue;
    APMDecimalNumber maxComparisonValue;
};
