#pragma once

#include "platform/ScreenGrabber.h"

#include <QList>
#include <QMap>

namespace fakes {

// A desktop the test paints: grab() cuts the asked area out of one picture
// that stands for the whole desktop in device pixels, and records each area
// asked for.
class FakeScreenGrabber final : public platform::ScreenGrabber {
public:
    bool isAvailable() const override { return available_; }
    QImage grab(const QRect& devicePixels) override;
    // The area scripted for the screen's name; else the offscreen
    // platform's own placement: the logical top left corner, the size
    // times the screen's whole-number ratio.
    QRect screenArea(const QScreen& screen) override;

    void setAvailable(bool available) { available_ = available; }
    void setDesktop(const QImage& desktop) { desktop_ = desktop; }
    void setScreenArea(const QString& screenName, const QRect& area) { areas_[screenName] = area; }
    QList<QRect> requests() const { return requests_; }

private:
    bool available_ = true;
    QImage desktop_;
    QMap<QString, QRect> areas_;
    QList<QRect> requests_;
};

} // namespace fakes
