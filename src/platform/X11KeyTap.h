#pragma once

#include "platform/KeyTap.h"

#include <QByteArray>
#include <QSet>

#include <memory>

class QSocketNotifier;
typedef struct _XDisplay Display;

namespace platform {

// Takes the mouse's keys with XInput 2 passive grabs on X key codes 196 to
// 198, any modifiers (NumLock and CapsLock included), placed on every slave
// keyboard rather than on the core keyboard: when such a grab activates the
// X server detaches that one device for the length of the press, so while
// the mouse's key is held every other keyboard, and the synthetic keys the
// application posts to type dictated text, still reach the focused window.
// A core grab would take the whole keyboard for as long as the key is held.
// Keyboards plugged in later are grabbed as they appear. Events are read
// from the tap's own X connection on the main thread.
class X11KeyTap final : public KeyTap {
public:
    // Null when the display cannot be opened or lacks XInput 2.2.
    // An empty name means $DISPLAY.
    static std::unique_ptr<X11KeyTap> open(const QByteArray& displayName = {});
    ~X11KeyTap() override;

    bool isAvailable() const override { return true; }
    bool start(Handler handler) override;

private:
    X11KeyTap(Display* display, int xiOpcode);
    void receive();
    void grabKeyboard(int deviceId);

    Display* display_;
    int xiOpcode_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Handler handler_;
    QSet<int> grabbed_; // slave keyboards that carry our grabs
};

} // namespace platform
