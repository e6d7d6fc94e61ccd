#pragma once

#include "platform/DesktopWatch.h"

#include <QByteArray>
#include <QObject>

#include <optional>

typedef struct _XDisplay Display;
class QSocketNotifier;

namespace platform {

// Watches the root window's _NET_CURRENT_DESKTOP, which the window manager
// sets to the number of the desktop shown, on a connection of its own. Only
// a new number is a switch: a window manager writing the same one again is
// not.
class X11DesktopWatch final : public QObject, public DesktopWatch {
    Q_OBJECT
public:
    static std::unique_ptr<X11DesktopWatch> open(const QByteArray& displayName = {});
    ~X11DesktopWatch() override;

    bool isAvailable() const override { return true; }
    void setHandler(Handler handler) override { handler_ = std::move(handler); }

private:
    explicit X11DesktopWatch(Display* display);
    // The number now set; none when the window manager sets none.
    std::optional<long> currentDesktop() const;
    void readEvents();

    Display* display_;
    unsigned long atom_;
    QSocketNotifier* notifier_ = nullptr;
    Handler handler_;
    std::optional<long> current_;
};

} // namespace platform
