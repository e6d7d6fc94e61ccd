// Started where no window can be shown, the program says so and ends with an
// error status instead of aborting inside the window system's plugin.
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Session {
    const char* name;
    QList<QPair<QString, QString>> variables;
    const char* mention; // what the message must name
};

void PrintTo(const Session& s, std::ostream* os)
{
    *os << s.name;
}

class NoDisplay : public ::testing::TestWithParam<Session> {
protected:
    // Only what a login shell without a desktop would have, plus a private home.
    QProcessEnvironment bareEnvironment() const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("PRAVIK_HOME"), home.path());
        env.insert(QStringLiteral("PRAVIK_RESOURCES"), qEnvironmentVariable("PRAVIK_RESOURCES"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        return env;
    }

    QTemporaryDir home;
};

TEST_P(NoDisplay, SaysAGraphicalSessionIsNeededAndExitsWithAnError)
{
    QProcessEnvironment env = bareEnvironment();
    for (const auto& [name, value] : GetParam().variables)
        env.insert(name, value);
    QProcess pravik;
    pravik.setProcessEnvironment(env);
    pravik.start(QStringLiteral(PRAVIK_APP_BINARY), {});
    ASSERT_TRUE(pravik.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(pravik.readAllStandardError());
    EXPECT_EQ(pravik.exitStatus(), QProcess::NormalExit) << err.toStdString(); // not killed by SIGABRT
    EXPECT_EQ(pravik.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("needs a graphical session"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8(GetParam().mention))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("xvfb-run"))) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Sessions, NoDisplay,
    ::testing::Values(Session { "nothing_at_all", {}, "DISPLAY is not set" },
        Session { "x_display_that_is_not_there", { { "DISPLAY", ":987" } }, "\":987\"" },
        Session {
            "wayland_socket_that_is_not_there", { { "WAYLAND_DISPLAY", "wayland-987" } }, "wayland-987" },
        Session { "x11_asked_for_without_a_display", { { "QT_QPA_PLATFORM", "xcb" } }, "\"xcb\"" }),
    [](const auto& info) { return std::string(info.param.name); });

// The check must not turn away a window system that needs no display server.
TEST_F(NoDisplay, AWindowSystemWithoutADisplayServerStillStarts)
{
    QProcessEnvironment env = bareEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Nothing of this machine's devices or desktop is touched.
    for (const char* layer : { "PRAVIK_KEYTAP", "PRAVIK_KEYPOSTER", "PRAVIK_HID", "PRAVIK_STATUSITEM" })
        env.insert(QString::fromLatin1(layer), QStringLiteral("null"));
    QProcess pravik;
    pravik.setProcessEnvironment(env);
    pravik.start(QStringLiteral(PRAVIK_APP_BINARY), {});
    ASSERT_TRUE(pravik.waitForStarted(10000));
    EXPECT_FALSE(pravik.waitForFinished(3000)) << pravik.readAllStandardError().toStdString();
    EXPECT_FALSE(pravik.readAllStandardError().contains("needs a graphical session"));
    pravik.terminate();
    pravik.waitForFinished(10000);
}

} // namespace
