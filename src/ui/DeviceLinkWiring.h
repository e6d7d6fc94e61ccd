#pragma once

// Connects the device links to the parts above them (the back-end client,
// the dictation recording and the voice-key orchestrator), which the links
// cannot reach themselves, and starts the USB receiver watcher and the
// Bluetooth LE link.
class DeviceLinkWiring {
public:
    // Sets the links' hooks; call once, before the first link opens.
    static void connectLinks();
    // Starts watching for the USB receiver and the Bluetooth LE link (idempotent).
    static void startUsbWatcher();
    // Hands the press classifier's codes to the voice-key orchestrator.
    static void beginMouseMonitor();
    // Checks the session's permissions; granted input access installs the
    // tap on the mouse's keys.
    static void checkPermission();
};
