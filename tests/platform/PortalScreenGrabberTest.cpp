// The screen read through the desktop portal, against a fake portal on a
// private session bus.
#include "platform/PortalScreenGrabber.h"

#include "fakes/FakeScreenshotPortal.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QImage portalTestPicture()
{
    QImage image(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, 99));
    return image;
}

TEST(PortalScreenGrabberTest, AreasAreCutFromOnePortalPictureWhoseFileIsRemoved)
{
    fakes::FakeScreenshotPortal portal;
    if (!portal.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    portal.setPicture(portalTestPicture());
    auto grabber = platform::PortalScreenGrabber::open(portal.clientConnection());
    ASSERT_TRUE(grabber);

    EXPECT_EQ(grabber->grab(QRect(10, 20, 30, 40)), portalTestPicture().copy(10, 20, 30, 40));
    // A second screen of the same capture: no second request.
    EXPECT_EQ(grabber->grab(QRect(200, 100, 100, 100)), portalTestPicture().copy(200, 100, 100, 100));
    EXPECT_EQ(portal.calls(), 1);
    ASSERT_EQ(portal.files().size(), 1);
    EXPECT_FALSE(QFile::exists(portal.files()[0])) << "the picture is not left on disk";

    QCoreApplication::processEvents();
    EXPECT_FALSE(grabber->grab(QRect(0, 0, 5, 5)).isNull());
    EXPECT_EQ(portal.calls(), 2) << "the next capture asks again";
    EXPECT_EQ(portal.problems(), QStringList());
}

// The portal's picture covers the whole desktop at a scale of its own: each
// screen is its logical place scaled by the picture's size, edge by edge, so
// screens meet without a gap and nothing lies past the picture.
TEST(PortalScreenGrabberTest, ScreensAreFoundInThePictureByItsOwnScale)
{
    const struct {
        const char* name;
        QRect screen;
        QRect desktop;
        QSize picture;
        QRect expected;
    } cases[] = {
        { "one screen at 1.5", QRect(0, 0, 1707, 1067), QRect(0, 0, 1707, 1067), QSize(2560, 1600),
            QRect(0, 0, 2560, 1600) },
        { "left of a pair", QRect(0, 0, 1280, 1024), QRect(0, 0, 2133, 1024), QSize(3200, 1536),
            QRect(0, 0, 1920, 1536) },
        { "right of a pair", QRect(1280, 0, 853, 683), QRect(0, 0, 2133, 1024), QSize(3200, 1536),
            QRect(1920, 0, 1280, 1025) },
        { "desktop not at the origin", QRect(-800, 0, 800, 600), QRect(-800, 0, 1824, 768), QSize(1824, 768),
            QRect(0, 0, 800, 600) },
        { "no picture", QRect(0, 0, 800, 600), QRect(0, 0, 800, 600), QSize(), QRect() },
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::PortalScreenGrabber::areaInPicture(c.screen, c.desktop, c.picture), c.expected) << c.name;
}

TEST(PortalScreenGrabberTest, ARefusalGivesNoPicture)
{
    fakes::FakeScreenshotPortal portal;
    if (!portal.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    portal.setResponseCode(1); // the user cancelled
    auto grabber = platform::PortalScreenGrabber::open(portal.clientConnection());
    ASSERT_TRUE(grabber);
    EXPECT_TRUE(grabber->grab(QRect(0, 0, 10, 10)).isNull());
    EXPECT_TRUE(grabber->screenArea(*QGuiApplication::primaryScreen()).isEmpty());
    EXPECT_EQ(portal.calls(), 1);
}

TEST(PortalScreenGrabberTest, NoBusNoBackend)
{
    EXPECT_FALSE(platform::PortalScreenGrabber::open(QDBusConnection(QStringLiteral("not-connected"))));
}

} // namespace
