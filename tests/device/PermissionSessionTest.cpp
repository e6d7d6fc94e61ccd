#include "fakes/FakeKeyPoster.h"
#include "fakes/FakeKeyTap.h"
#include "platform/SessionPermissions.h"
#include "platform/X11Session.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

// Sets environment variables for the life of the object, then puts them back.
class ScopedEnvironment {
public:
    void set(const char* name, const std::optional<QByteArray>& value)
    {
        saved_.push_back(
            { name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt });
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnvironment()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                qputenv(it->first, *it->second);
            else
                qunsetenv(it->first);
        }
    }

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

TEST(PermissionSession, InputAccessNeedsBothTheTapAndThePoster)
{
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    const platform::SessionPermissions permissions(tap, poster);
    for (bool tapAvailable : { false, true }) {
        for (bool posterAvailable : { false, true }) {
            tap.setAvailable(tapAvailable);
            poster.setAvailable(posterAvailable);
            EXPECT_EQ(permissions.inputAccess(), tapAvailable && posterAvailable)
                << "tap " << tapAvailable << " poster " << posterAvailable;
        }
    }
}

TEST(PermissionSession, ScreenCaptureNeedsAnXSession)
{
    struct Case {
        std::optional<QByteArray> sessionType;
        std::optional<QByteArray> display;
        bool x11;
    };
    // The test runs on the offscreen platform, so an unnamed session type is not X11.
    const Case cases[] = {
        { QByteArray("x11"), QByteArray(":0"), true },
        { QByteArray("wayland"), QByteArray(":0"), false }, // XWayland is no X session
        { QByteArray("x11"), std::nullopt, false },
        { std::nullopt, QByteArray(":0"), false },
        { QByteArray("tty"), QByteArray(":0"), false },
    };
    fakes::FakeKeyTap tap;
    fakes::FakeKeyPoster poster;
    const platform::SessionPermissions permissions(tap, poster);
    for (const Case& c : cases) {
        ScopedEnvironment env;
        env.set("XDG_SESSION_TYPE", c.sessionType);
        env.set("DISPLAY", c.display);
        EXPECT_EQ(platform::X11Session::isX11(), c.x11) << c.sessionType.value_or("(unset)").constData();
        EXPECT_EQ(permissions.screenCapture(), c.x11);
    }
}

} // namespace
