#pragma once

#include "platform/GlobalHotkey.h"

#include <QByteArray>
#include <QObject>

typedef struct _XDisplay Display;
class QSocketNotifier;

namespace platform {

// A passive key grab on the root window by key code and modifiers, made
// once for each combination of Caps Lock and Num Lock, on a connection of
// its own whose events are read as they arrive.
class X11GlobalHotkey final : public QObject, public GlobalHotkey {
    Q_OBJECT
public:
    static std::unique_ptr<X11GlobalHotkey> open(const QByteArray& displayName = {});
    ~X11GlobalHotkey() override;

    bool isAvailable() const override { return true; }
    Result registerHotkey(const Hotkey& hotkey, Action action) override;
    void unregisterHotkey() override;

private:
    explicit X11GlobalHotkey(Display* display);
    void readEvents();
    unsigned int numLockMask() const;

    Display* display_;
    QSocketNotifier* notifier_ = nullptr;
    int grabbedKeyCode_ = 0;
    unsigned int grabbedModifiers_ = 0;
    Action action_;
};

} // namespace platform
