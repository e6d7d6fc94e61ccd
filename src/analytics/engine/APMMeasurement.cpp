#include "analytics/engine/APMMeasurement.h"

APMMonitor& APMMeasurement::monitor()
{
    return APMLibrary::monitor();
}
