#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// Blocks, statement lists, branches, switch, function definitions, method
// calls and the jumps break, continue and return. Arguments arrive raw.
class APMPControlCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPControlCommandEvaluator();
};
