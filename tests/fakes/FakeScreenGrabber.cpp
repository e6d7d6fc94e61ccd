#include "fakes/FakeScreenGrabber.h"

#include <QScreen>

namespace fakes {

QImage FakeScreenGrabber::grab(const QRect& devicePixels)
{
    requests_.append(devicePixels);
    if (!available_)
        return {};
    const QRect area = devicePixels & desktop_.rect();
    return area.isEmpty() ? QImage() : desktop_.copy(area).convertToFormat(QImage::Format_RGB32);
}

QRect FakeScreenGrabber::screenArea(const QScreen& screen)
{
    if (areas_.contains(screen.name()))
        return areas_.value(screen.name());
    const QRect logical = screen.geometry();
    return QRect(logical.topLeft(), logical.size() * screen.devicePixelRatio());
}

} // namespace fakes
