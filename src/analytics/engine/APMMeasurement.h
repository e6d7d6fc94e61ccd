#pragma once

#include "analytics/base/APMLibrary.h"

#include <QtGlobal>

class APMMonitor;

// The measurement engine's class-level services. The monitor and the version
// live in the base layer (APMLibrary) so that lower layers reach them without
// the engine; these forward to it.
class APMMeasurement {
public:
    static constexpr qint64 kAppMetricsLibraryVersion = APMLibrary::kAppMetricsLibraryVersion;

    static APMMonitor& monitor();
};
