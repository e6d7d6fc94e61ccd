#pragma once

// Connects the device links to the parts above them (the back-end client and
// the dictation recording), which the links cannot reach themselves, and
// starts the USB receiver watcher.
class DeviceLinkWiring {
public:
    // Sets the USB link's hooks; call once, before the first link opens.
    static void connectLinks();
    // Starts watching for the USB receiver (idempotent).
    static void startUsbWatcher();
};
