// The screen read through the desktop portal, against a fake portal on a
// private session bus.
#include "platform/PortalScreenGrabber.h"

#include "fakes/FakeScreenshotPortal.h"

#include <QCoreApplication>
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

TEST(PortalScreenGrabberTest, ARefusalGivesNoPicture)
{
    fakes::FakeScreenshotPortal portal;
    if (!portal.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    portal.setResponseCode(1); // the user cancelled
    auto grabber = platform::PortalScreenGrabber::open(portal.clientConnection());
    ASSERT_TRUE(grabber);
    EXPECT_TRUE(grabber->grab(QRect(0, 0, 10, 10)).isNull());
    EXPECT_EQ(portal.calls(), 1);
}

TEST(PortalScreenGrabberTest, NoBusNoBackend)
{
    EXPECT_FALSE(platform::PortalScreenGrabber::open(QDBusConnection(QStringLiteral("not-connected"))));
}

} // namespace
