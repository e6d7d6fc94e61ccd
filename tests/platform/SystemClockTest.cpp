#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <time.h>

// The system clock's monotonic time is the boot clock: it counts time
// asleep, which CLOCK_MONOTONIC does not.
TEST(SystemClock, MonotonicTimeIsTheBootClock)
{
    timespec boot {};
    ASSERT_EQ(clock_gettime(CLOCK_BOOTTIME, &boot), 0);
    const double before = double(boot.tv_sec) + double(boot.tv_nsec) / 1e9;
    const double reading = platform::Clock::system().monotonic();
    ASSERT_EQ(clock_gettime(CLOCK_BOOTTIME, &boot), 0);
    const double after = double(boot.tv_sec) + double(boot.tv_nsec) / 1e9;
    EXPECT_GE(reading, before);
    EXPECT_LE(reading, after);
}
