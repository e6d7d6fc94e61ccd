#pragma once

#include "platform/ScreenGrabber.h"

#include <QDBusConnection>
#include <QImage>

#include <memory>

namespace platform {

// The desktop portal's Screenshot interface (Wayland sessions): the portal
// writes a picture of the whole desktop to a file and answers with its
// address; the picture is read, the file removed at once (the user did not
// ask to keep it), and the areas asked for are cut from it. The grabs of one
// capture share one portal request. The picture covers the desktop's
// logical extent at one scale of its own, so a screen's area is its logical
// place scaled by the picture's own size.
class PortalScreenGrabber final : public ScreenGrabber {
public:
    static const QString kInterface; // "org.freedesktop.portal.Screenshot"
    // How long the portal may take (it may ask the user first).
    static constexpr int kTimeoutMs = 60000;

    // Null when the bus has no portal.
    static std::unique_ptr<PortalScreenGrabber> open(
        const QDBusConnection& bus = QDBusConnection::sessionBus());

    bool isAvailable() const override { return true; }
    QImage grab(const QRect& devicePixels) override;
    QRect screenArea(const QScreen& screen) override;
    // Where a screen's logical geometry lies in a picture of the whole
    // desktop (the union of every screen's logical geometry).
    static QRect areaInPicture(const QRect& screen, const QRect& desktop, const QSize& picture);

private:
    explicit PortalScreenGrabber(const QDBusConnection& bus);
    QImage desktop();

    // The picture of the capture under way, dropped once the event loop
    // runs again (shared, so that a grabber gone by then is no matter).
    struct Cache {
        QImage desktop;
        bool valid = false;
    };

    QDBusConnection bus_;
    std::shared_ptr<Cache> cache_ = std::make_shared<Cache>();
};

} // namespace platform
