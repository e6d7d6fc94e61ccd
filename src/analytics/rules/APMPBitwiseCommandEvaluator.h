#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// The bitwise operators 56 to 62 on signed 32-bit conversions of their
// operands. Arguments arrive evaluated.
class APMPBitwiseCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPBitwiseCommandEvaluator();
};
