#pragma once

#include "platform/ScreenGrabber.h"

#include <QList>

namespace fakes {

// A desktop the test paints: grab() cuts the asked area out of one picture
// that stands for the whole desktop in device pixels, and records each area
// asked for.
class FakeScreenGrabber final : public platform::ScreenGrabber {
public:
    bool isAvailable() const override { return available_; }
    QImage grab(const QRect& devicePixels) override;

    void setAvailable(bool available) { available_ = available; }
    void setDesktop(const QImage& desktop) { desktop_ = desktop; }
    QList<QRect> requests() const { return requests_; }

private:
    bool available_ = true;
    QImage desktop_;
    QList<QRect> requests_;
};

} // namespace fakes
