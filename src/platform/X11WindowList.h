#pragma once

#include "platform/WindowList.h"

#include <QByteArray>

typedef struct _XDisplay Display;

namespace platform {

// The window manager's stacking list (_NET_CLIENT_LIST_STACKING) with each
// window's frame; without a window manager the mapped top-level windows of
// the root in their stacking order.
class X11WindowList final : public WindowList {
public:
    static std::unique_ptr<X11WindowList> open(const QByteArray& displayName = {});
    ~X11WindowList() override;
    X11WindowList(const X11WindowList&) = delete;
    X11WindowList& operator=(const X11WindowList&) = delete;

    QList<WindowInfo> windows() override;

private:
    explicit X11WindowList(Display* display);
    Display* display_;
};

} // namespace platform
