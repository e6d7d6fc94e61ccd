#pragma once

#include "platform/KeyPoster.h"

#include <QByteArray>
#include <QMutex>

#include <memory>

typedef struct _XDisplay Display;

namespace platform {

// Synthetic keys through the XTest extension on a connection of its own.
// Key codes are looked up by key symbol in the server's current keyboard map,
// so Ctrl-V is the key that gives "v" in the user's layout, wherever it sits.
class X11KeyPoster final : public KeyPoster {
public:
    // Null when the display cannot be opened or lacks XTest. An empty name means $DISPLAY.
    static std::unique_ptr<X11KeyPoster> open(const QByteArray& displayName = {});
    ~X11KeyPoster() override;

    bool isAvailable() const override { return true; }
    bool press(Key key, Modifiers modifiers = {}) override;

private:
    explicit X11KeyPoster(Display* display);
    void refreshKeyboardMap();

    QMutex mutex_; // callers come from the main thread and the typing queue
    Display* display_;
};

} // namespace platform
