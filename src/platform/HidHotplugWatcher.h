#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// A HID device as the hot-plug watcher reports it. `key` names the physical
// device (all interfaces of one USB device share it), so a removal can be
// matched with an earlier attachment.
struct HidHotplugDevice {
    QString key;
    QString product; // the USB device's product string; empty when it has none
    bool hasProduct = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// Reports HID devices arriving and leaving, on the main thread. start()
// first reports every device already present as attached.
class HidHotplugWatcher {
public:
    using Handler = std::function<void(const HidHotplugDevice&)>;

    virtual ~HidHotplugWatcher() = default;

    // False when the session offers no hot-plug source (the null backend).
    virtual bool start(Handler attached, Handler removed) = 0;

    // The backend of this session: libudev when its monitor starts, else
    // the null backend. PRAVIK_HID=hidapi|null overrides the probe.
    static std::unique_ptr<HidHotplugWatcher> create();
};

} // namespace platform
