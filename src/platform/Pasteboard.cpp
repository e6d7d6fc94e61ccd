#include "platform/Pasteboard.h"

#include "platform/QtPasteboard.h"

namespace platform {

Pasteboard& Pasteboard::shared()
{
    static QtPasteboard pasteboard;
    return pasteboard;
}

} // namespace platform
