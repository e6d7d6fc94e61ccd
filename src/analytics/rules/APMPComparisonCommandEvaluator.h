#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// The comparison operators: loose (12, 29) and strict (20, 21) equality and
// the orderings (18, 19, 23, 24). Exactly two arguments, checked before
// either is evaluated.
class APMPComparisonCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPComparisonCommandEvaluator();
};
