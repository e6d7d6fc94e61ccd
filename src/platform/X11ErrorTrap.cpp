#include "platform/X11ErrorTrap.h"

#include <X11/Xlib.h>
#include <atomic>

namespace platform {

namespace {

std::atomic<Display*> trapped { nullptr };
std::atomic<int> errorCount { 0 };
XErrorHandler previousHandler = nullptr;

int countError(Display* display, XErrorEvent* event)
{
    if (display == trapped.load()) {
        ++errorCount;
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display* display)
    : display_(display)
{
    XSync(display_, False); // errors of earlier requests are not ours to count
    errorCount = 0;
    trapped = display_;
    previousHandler = XSetErrorHandler(countError);
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(display_, False);
    XSetErrorHandler(previousHandler);
    previousHandler = nullptr;
    trapped = nullptr;
}

bool X11ErrorTrap::failed()
{
    XSync(display_, False);
    return errorCount.load() > 0;
}

} // namespace platform
