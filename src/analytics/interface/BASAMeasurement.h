#pragma once

#include "analytics/engine/APMMeasurement.h"

// The engine under the name callers of the older interface know. It adds
// nothing: it is never made, and its shared instance is the engine's.
class BASAMeasurement : public APMMeasurement {
public:
    BASAMeasurement() = delete;

    static APMMeasurement* sharedInstance() { return APMMeasurement::sharedInstance(); }
};
