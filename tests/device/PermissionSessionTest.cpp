#include "fakes/FakeBluez.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakeScreenGrabber.h"
#include "platform/SessionPermissions.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

// A connection to no bus at all.
QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("no-bus"));
}

bool waitFor(const std::function<bool()>& done, int milliseconds = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(PermissionSession, InputAccessNeedsBothTheTapAndThePoster)
{
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    fakes::FakeScreenGrabber grabber;
    const platform::SessionPermissions permissions(tap, poster, grabber, noBus());
    for (bool tapAvailable : { false, true }) {
        for (bool posterAvailable : { false, true }) {
            tap.setAvailable(tapAvailable);
            poster.setAvailable(posterAvailable);
            EXPECT_EQ(permissions.inputAccess(), tapAvailable && posterAvailable)
                << "tap " << tapAvailable << " poster " << posterAvailable;
        }
    }
}

// Screen capture is whatever the session's grabber can do: X11, or the
// desktop portal in a Wayland session; not the session type by itself.
TEST(PermissionSession, ScreenCaptureFollowsTheGrabber)
{
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    fakes::FakeScreenGrabber grabber;
    const platform::SessionPermissions permissions(tap, poster, grabber, noBus());
    for (bool available : { true, false }) {
        grabber.setAvailable(available);
        EXPECT_EQ(permissions.screenCapture(), available);
    }
}

TEST(PermissionSession, NoBusMeansNoAdapter)
{
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    fakes::FakeScreenGrabber grabber;
    const platform::SessionPermissions permissions(tap, poster, grabber, noBus());
    EXPECT_FALSE(permissions.bluetoothAdapter());
}

// Adapters are followed as they come and go, and the listener hears of each
// change; devices coming and going change nothing. The bus is never waited
// for: while BlueZ holds its answer back, the question answers at once.
TEST(PermissionSession, AdaptersAreFollowedWithoutWaitingForTheBus)
{
    fakes::FakeBluez bluez;
    if (!bluez.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    fakes::FakeScreenGrabber grabber;
    bluez.holdListings(true);
    platform::SessionPermissions permissions(tap, poster, grabber, bluez.clientConnection());
    int changes = 0;
    permissions.setChangeListener([&] { ++changes; });
    ASSERT_TRUE(waitFor([&] { return bluez.listings() == 1; }));
    EXPECT_FALSE(permissions.bluetoothAdapter()); // answered at once, nothing known yet
    bluez.release();
    QCoreApplication::processEvents();
    EXPECT_FALSE(permissions.bluetoothAdapter());
    bluez.holdListings(false);

    bluez.addObject(
        QStringLiteral("/org/bluez/hci0/dev_00_11_22_33_44_55"), QStringLiteral("org.bluez.Device1"));
    bluez.addObject(QStringLiteral("/org/bluez/hci0"), QStringLiteral("org.bluez.Adapter1"));
    ASSERT_TRUE(waitFor([&] { return permissions.bluetoothAdapter(); }));
    EXPECT_EQ(changes, 1);
    const int listings = bluez.listings();

    bluez.removeObject(QStringLiteral("/org/bluez/hci0/dev_00_11_22_33_44_55"));
    bluez.addObject(
        QStringLiteral("/org/bluez/hci0/dev_66_77_88_99_AA_BB"), QStringLiteral("org.bluez.Device1"));
    waitFor([] { return false; }, 200);
    EXPECT_EQ(bluez.listings(), listings) << "devices do not make it ask again";

    bluez.removeObject(QStringLiteral("/org/bluez/hci0"));
    ASSERT_TRUE(waitFor([&] { return !permissions.bluetoothAdapter(); }));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(bluez.problems().isEmpty()) << bluez.problems().join(u'\n').toStdString();
}

} // namespace
