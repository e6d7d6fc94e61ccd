#pragma once

#include "analytics/audience/APMAudienceLimits.h"

#include <QSet>
#include <QtGlobal>

class APMError;
class APMPBAudience;

// Whether an audience definition of the configuration may be stored: an ID
// not negative and not accepted before, between 1 and the limit of filters,
// every filter named, numbered below the limit without repeats (event and
// property filters share the numbers), and every value filter well formed.
// The first failure ends the check with the error (code 9 the audience, 10
// an event filter, 11 a property filter) and its description. Adds nothing
// to the accepted set.
bool checkAudienceDefinition(
    const APMPBAudience& audience, const QSet<qint32>& acceptedIDs, const APMAudienceLimits& limits, APMError* error);
