#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// The logical operators: and (1) and or (30) short-circuit and yield an
// operand; not (28) yields a boolean. Arguments arrive raw.
class APMPLogicalCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPLogicalCommandEvaluator();
};
