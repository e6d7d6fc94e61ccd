#pragma once

#include <functional>
#include <memory>

class MMpermissionCheck;

// Connects the device links to the parts above them (the back-end client,
// the dictation recording and the voice-key orchestrator), which the links
// cannot reach themselves, and starts the USB receiver watcher and the
// Bluetooth LE link, each when what it needs is there.
class DeviceLinkWiring {
public:
    // Sets the links' hooks; call once, before the first link opens.
    static void connectLinks();
    // Starts watching for the USB receiver (idempotent).
    static void startUsbWatcher();
    // Starts the Bluetooth LE link (idempotent).
    static void startBluetoothLink();
    // Tells `changed` when the session's answers change by themselves (a
    // Bluetooth adapter plugged in).
    static void watchPermissions(std::function<void()> changed);
    // Hands the press classifier's codes to the voice-key orchestrator.
    static void beginMouseMonitor();
    // A permission checker over the session; its input-access probe installs
    // the tap on the mouse's keys when it can (tried again at every check).
    static std::shared_ptr<MMpermissionCheck> makePermissionCheck();
};
