#include "analytics/engine/APMLoadTime.h"

#include <mutex>

namespace load_time {

struct LoadTime {
    std::mutex mutex;
    double timestamp = 0;
};

LoadTime& shared()
{
    static LoadTime* const loadTime = new LoadTime; // lives with the process
    return *loadTime;
}

} // namespace load_time

double APMLoadTime::timestamp()
{
    load_time::LoadTime& l = load_time::shared();
    std::lock_guard locker(l.mutex);
    return l.timestamp;
}

void APMLoadTime::setTimestamp(double timestamp)
{
    load_time::LoadTime& l = load_time::shared();
    std::lock_guard locker(l.mutex);
    l.timestamp = timestamp;
}
