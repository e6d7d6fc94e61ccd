#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// The loops: while and do-while (42), the counted loop (63), for-in over
// keys (47, 54, 55) and for-of over values (64, 65, 66). Arguments arrive
// raw; every condition, body statement and step counts against the run's
// instruction budget.
class APMPLoopCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPLoopCommandEvaluator();
};
