#pragma once

#include <functional>

namespace platform {

// The process's concurrent queue: tasks run on a thread pool, in no
// particular order.
class GlobalQueue {
public:
    static void async(std::function<void()> task);
    // Waits until every task started so far has finished (tests, shut-down).
    static void waitForDone();
};

} // namespace platform
