#include "analytics/engine/APMMeasurement.h"

#include "analytics/base/APMMonitor.h"

APMMonitor& APMMeasurement::monitor()
{
    static APMMonitor* monitor
        = new APMMonitor(kAppMetricsLibraryVersion); // lives as long as the process
    return *monitor;
}
