#include "platform/Clock.h"

#include <chrono>

#ifdef __linux__
#include <time.h>
#endif

namespace platform {
namespace {

class SystemClock final : public Clock {
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    // Seconds since boot, time asleep included: a suspended laptop must not
    // look like no time passed, and a change of the wall clock must not look
    // like time passing.
    double monotonic() const override
    {
#ifdef __linux__
        timespec boot {};
        if (clock_gettime(CLOCK_BOOTTIME, &boot) == 0)
            return double(boot.tv_sec) + double(boot.tv_nsec) / 1e9;
#endif
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
};

} // namespace

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace platform
