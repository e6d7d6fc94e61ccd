#include "analytics/base/APMLibrary.h"

#include "analytics/base/APMMonitor.h"

APMMonitor& APMLibrary::monitor()
{
    static APMMonitor* monitor
        = new APMMonitor(kAppMetricsLibraryVersion); // lives as long as the process
    return *monitor;
}
