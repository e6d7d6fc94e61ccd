#pragma once

#include <functional>

namespace platform {

// Whether the machine is on a network, and word when that changes. Callers
// that wait for the network (the analytics upload) ask before they send and
// leave a change handler while they wait.
class Reachability {
public:
    using ChangeHandler = std::function<void()>;

    virtual ~Reachability() = default;

    // False only when the system says it is offline; an unknown state counts
    // as connected, so a missing answer never holds data back.
    virtual bool isConnected() const = 0;
    // Called after each change, on the main thread. Replaces the previous
    // handler; an empty one clears it. Safe from any thread.
    virtual void setChangeHandler(ChangeHandler handler) = 0;

    // The process's own: the system's network information when a backend
    // answers, else "always connected". PRAVIK_REACHABILITY=qt|null
    // overrides the probe. First call it on the application's thread, where
    // the system's changes arrive.
    static Reachability& shared();
};

} // namespace platform
