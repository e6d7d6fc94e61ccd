#pragma once

#include "analytics/rules/APMPCommandEvaluator.h"

// Variables, literals and properties: assign (3), array and map literals (7,
// 8), read a variable (15), read and write a property (16, 17, 43), type of
// (40), declarations (41, 52), the undefined and null literals (44, 45).
// Arguments arrive evaluated.
class APMPVariableCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPVariableCommandEvaluator();
};
