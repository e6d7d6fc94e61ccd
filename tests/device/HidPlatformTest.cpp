#include "platform/HidHotplugWatcher.h"
#include "platform/HidLibrary.h"
#include "platform/UdevHotplugWatcher.h"

#include <gtest/gtest.h>

namespace {

TEST(HidPlatformTest, NullBackendAnswersNotAvailable)
{
    const auto null = platform::HidLibrary::create(QStringLiteral("null"));
    EXPECT_FALSE(null->init());
    EXPECT_TRUE(null->enumerate(0, 0).empty());
    EXPECT_EQ(null->open("/dev/hidraw0"), nullptr);
    EXPECT_FALSE(null->lastError().isEmpty());

    qputenv("PRAVIK_HID", "null");
    const auto watcher = platform::HidHotplugWatcher::create();
    qunsetenv("PRAVIK_HID");
    EXPECT_FALSE(
        watcher->start([](const platform::HidHotplugDevice&) {}, [](const platform::HidHotplugDevice&) {}));
}

// The real backends against whatever this machine has: they must not fail on
// its devices, and a path that does not exist does not open.
TEST(HidPlatformTest, HidapiBackendOnThisMachine)
{
    const auto hidapi = platform::HidLibrary::create(QStringLiteral("hidapi"));
    if (!hidapi->init())
        GTEST_SKIP() << "hidapi cannot initialise here";
    for (const platform::HidDeviceInfo& info : hidapi->enumerate(0, 0))
        EXPECT_FALSE(info.path.isEmpty());
    EXPECT_EQ(hidapi->open("/nonexistent/hidraw"), nullptr);
    hidapi->exit();
}

TEST(HidPlatformTest, UdevWatcherReportsPresentDevicesOnStart)
{
    const auto udev = platform::UdevHotplugWatcher::open();
    if (!udev)
        GTEST_SKIP() << "no udev monitor here";
    std::vector<platform::HidHotplugDevice> present;
    ASSERT_TRUE(udev->start([&](const platform::HidHotplugDevice& d) { present.push_back(d); },
        [](const platform::HidHotplugDevice&) {}));
    for (const platform::HidHotplugDevice& d : present)
        EXPECT_FALSE(d.key.isEmpty());
    // Starting twice is refused rather than reporting everything again.
    EXPECT_FALSE(udev->start({}, {}));
}

} // namespace
