#include "platform/DragMonitor.h"

#include "platform/NullDragMonitor.h"
#include "platform/X11DragMonitor.h"
#include "platform/X11Session.h"

namespace platform {

std::unique_ptr<DragMonitor> DragMonitor::create(const QString& choice)
{
    if (choice == QLatin1StringView("null"))
        return std::make_unique<NullDragMonitor>();
    if (choice == QLatin1StringView("x11") || (choice.isEmpty() && X11Session::isX11())) {
        if (auto monitor = X11DragMonitor::open())
            return monitor;
    }
    return std::make_unique<NullDragMonitor>();
}

DragMonitor& DragMonitor::shared()
{
    static const std::unique_ptr<DragMonitor> monitor = create(qEnvironmentVariable("PRAVIK_DRAGMONITOR"));
    return *monitor;
}

} // namespace platform
