#pragma once

#include "platform/KeyPoster.h"

#include <QMutex>

#include <memory>

struct libevdev_uinput;

namespace platform {

// Synthetic keys through a virtual keyboard made with uinput, for sessions
// without an X server. The kernel knows key positions, not symbols, so the
// keys are those of the V, C, ... positions; the compositor applies the
// user's layout to them (the same letters on QWERTY, QWERTZ, AZERTY and the
// common non-Latin layouts, whose shortcuts fall back to the Latin keys).
class UinputKeyPoster final : public KeyPoster {
public:
    // Null when /dev/uinput is not writable.
    static std::unique_ptr<UinputKeyPoster> open();
    ~UinputKeyPoster() override;

    bool isAvailable() const override { return true; }
    bool press(Key key, Modifiers modifiers = {}) override;

private:
    explicit UinputKeyPoster(libevdev_uinput* device);
    bool write(unsigned code, int value);

    QMutex mutex_; // callers come from the main thread and the typing queue
    libevdev_uinput* device_;
};

} // namespace platform
