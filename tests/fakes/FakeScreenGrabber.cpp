#include "fakes/FakeScreenGrabber.h"

namespace fakes {

QImage FakeScreenGrabber::grab(const QRect& devicePixels)
{
    requests_.append(devicePixels);
    if (!available_)
        return {};
    const QRect area = devicePixels & desktop_.rect();
    return area.isEmpty() ? QImage() : desktop_.copy(area).convertToFormat(QImage::Format_RGB32);
}

} // namespace fakes
