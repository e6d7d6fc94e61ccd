#pragma once

#include "platform/KeyTap.h"

#include <memory>

class MMpermissionCheck;

// The process's one tap on the mouse's function keys. It is installed at
// most once, however many permission checks find input access granted, and
// stays until the process ends; a tap the session refused is tried again at
// the next check. Each key event goes, as a key code (79 F18,
// 80 F19, 90 F20) and an event type (10 down, 11 up), to the tap target: the
// checker that ran the latest permission check, which the tap keeps alive.
// Main thread.
class KeyEventTap {
public:
    explicit KeyEventTap(platform::KeyTap& keys);
    // Over the session's key tap.
    static KeyEventTap& shared();

    // Starts taking the keys, unless the tap already runs. Whether it runs.
    bool install();
    bool installed() const { return installed_; }

    void setTarget(std::shared_ptr<MMpermissionCheck> target) { target_ = std::move(target); }
    MMpermissionCheck* target() const { return target_.get(); }

private:
    void deliver(platform::MouseKey key, platform::KeyAction action);

    platform::KeyTap& keys_;
    bool refusalLogged_ = false;
    bool installed_ = false;
    std::shared_ptr<MMpermissionCheck> target_;
};
