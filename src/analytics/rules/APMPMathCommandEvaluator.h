#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// The arithmetic operators: add (0), divide (10), remainder (25), multiply
// (26), negate (27), subtract (37) and the pass-through commands 32 to 35.
// Arguments arrive evaluated; each handler checks its own count.
class APMPMathCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPMathCommandEvaluator();
};
