// Global shortcuts through the desktop portal, against a fake portal on a
// private session bus.
#include "platform/PortalGlobalHotkey.h"

#include "fakes/FakeShortcutsPortal.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

using platform::Hotkey;

bool portalHotkeyWait(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

TEST(PortalGlobalHotkeyTest, TriggerTexts)
{
    EXPECT_EQ(platform::PortalGlobalHotkey::triggerText({ 20, Hotkey::kCommand }), QStringLiteral("CTRL+3"));
    EXPECT_EQ(platform::PortalGlobalHotkey::triggerText({ 0, Hotkey::kCommand | Hotkey::kShift }),
        QStringLiteral("CTRL+SHIFT+a"));
    EXPECT_EQ(platform::PortalGlobalHotkey::triggerText({ 96, Hotkey::kOption | Hotkey::kControl }),
        QStringLiteral("ALT+LOGO+F5"));
    EXPECT_EQ(platform::PortalGlobalHotkey::triggerText({ 999, Hotkey::kCommand }), QString());
}

TEST(PortalGlobalHotkeyTest, ABoundShortcutIsDeliveredAndANewKeyReplacesIt)
{
    fakes::FakeShortcutsPortal portal;
    if (!portal.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    auto hotkey = platform::PortalGlobalHotkey::open(portal.clientConnection());
    ASSERT_TRUE(hotkey);
    int presses = 0;
    ASSERT_EQ(hotkey->registerHotkey({ 20, Hotkey::kCommand }, [&] { ++presses; }),
        platform::GlobalHotkey::Result::Registered);
    ASSERT_TRUE(portal.activate());
    EXPECT_TRUE(portalHotkeyWait([&] { return presses == 1; }));

    ASSERT_EQ(hotkey->registerHotkey({ 0, Hotkey::kCommand | Hotkey::kShift }, [&] { presses += 10; }),
        platform::GlobalHotkey::Result::Registered);
    EXPECT_TRUE(portalHotkeyWait([&] { return portal.openSessions() == 1; })) << "the old session is closed";
    ASSERT_TRUE(portal.activate());
    EXPECT_TRUE(portalHotkeyWait([&] { return presses == 11; }));
    EXPECT_EQ(
        portal.boundTriggers(), (QStringList { QStringLiteral("CTRL+3"), QStringLiteral("CTRL+SHIFT+a") }));
    EXPECT_EQ(portal.problems(), QStringList());
}

TEST(PortalGlobalHotkeyTest, ARefusedBindIsReportedAsTaken)
{
    fakes::FakeShortcutsPortal portal;
    if (!portal.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    portal.setBindResponse(2);
    auto hotkey = platform::PortalGlobalHotkey::open(portal.clientConnection());
    ASSERT_TRUE(hotkey);
    EXPECT_EQ(hotkey->registerHotkey({ 20, Hotkey::kCommand }, [] {}), platform::GlobalHotkey::Result::Taken);
    EXPECT_FALSE(portal.activate());
}

TEST(PortalGlobalHotkeyTest, APortalWithoutGlobalShortcutsIsNoBackend)
{
    fakes::FakeSessionBus bus;
    if (!bus.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    EXPECT_FALSE(platform::PortalGlobalHotkey::open(bus.connect()));
}

} // namespace
