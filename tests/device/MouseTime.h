#pragma once

#include "fakes/FakeHidMouse.h"
#include "fakes/VirtualTime.h"

#include <algorithm>
#include <gtest/gtest.h>

// Virtual time moved on in steps of a few milliseconds, every report the
// mouse sent during a step handled before the next step, as reports from a
// live receiver arrive while time runs.
inline void advanceWithMouse(fakes::VirtualTime& time, fakes::FakeHidMouse& mouse, double seconds)
{
    constexpr double kStep = 0.004;
    // Steps towards a fixed end, so rounding does not add up over long spans.
    const double end = time.now() + seconds;
    while (time.now() < end) {
        time.advance(std::min(kStep, end - time.now()));
        ASSERT_TRUE(mouse.deliverReports()) << "the link's reader did not take the mouse's reports";
    }
}
