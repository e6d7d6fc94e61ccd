#pragma once

#include "platform/HidHotplugWatcher.h"

namespace fakes {

// A hot-plug watcher the test drives: attach() and remove() report at once,
// as the real watcher does on the main thread.
class FakeHidHotplugWatcher final : public platform::HidHotplugWatcher {
public:
    bool start(Handler attached, Handler removed) override;

    void setAvailable(bool available) { available_ = available; }
    bool started() const { return started_; }
    void attach(const platform::HidHotplugDevice& device);
    void remove(const platform::HidHotplugDevice& device);

    // A device as the watcher would describe it.
    static platform::HidHotplugDevice device(
        const QString& key, const QString& product, quint16 vendorId, quint16 productId);

private:
    Handler attached_, removed_;
    bool available_ = true;
    bool started_ = false;
};

} // namespace fakes
