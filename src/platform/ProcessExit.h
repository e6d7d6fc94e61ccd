#pragma once

#include <functional>

namespace platform {

// Work that must end before the process destroys its static objects. A
// process-wide queue whose thread is still saving while static destruction
// runs reads objects that are already gone (and crashes a few exits in a
// hundred). Hooks run once each, newest first, when the Qt application object
// is destroyed (still inside main, before any static destructor), or at exit
// for a host that never made one.
class ProcessExit {
public:
    static void add(std::function<void()> hook);

    // Runs and forgets the hooks added so far. Called by the two triggers
    // above; a host may call it earlier.
    static void runHooks();
};

} // namespace platform
