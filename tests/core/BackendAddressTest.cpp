#include "core/BackendAddress.h"

#include "core/KWLangManager.h"
#include "fakes/TempHome.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"

#include <QStringList>

#include <gtest/gtest.h>
#include <optional>

namespace {

using State = BackendAddress::State;

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value)
        : name_(name)
        , previous_(qgetenv(name))
        , had_(qEnvironmentVariableIsSet(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray previous_;
    bool had_;
};

// Collects warnings while alive.
class LogCapture {
public:
    LogCapture() { previous_ = qInstallMessageHandler(&LogCapture::capture); }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    static QStringList& lines()
    {
        static QStringList all;
        return all;
    }
    static int count(const QString& fragment)
    {
        int n = 0;
        for (const QString& line : lines())
            n += line.contains(fragment) ? 1 : 0;
        return n;
    }

private:
    static void capture(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        lines().append(message);
    }
    QtMessageHandler previous_;
};

struct SourceCase {
    const char* name;
    std::optional<QByteArray> environment; // nullopt: variable not set
    std::optional<QString> setting; // nullopt: key not stored
    QString expected;
};

void PrintTo(const SourceCase& c, std::ostream* os)
{
    *os << c.name;
}

class BackendAddressSource : public ::testing::TestWithParam<SourceCase> { };

TEST_P(BackendAddressSource, EnvironmentWinsOverTheSettingAndNeitherMeansNotConfigured)
{
    const SourceCase& c = GetParam();
    fakes::TempHome home;
    platform::Preferences prefs(home.path() + QStringLiteral("/defaults.plist"));
    if (c.setting)
        prefs.setValue(BackendAddress::kPreferenceKey, *c.setting);
    ScopedEnv env(BackendAddress::kEnvironmentVariable, c.environment);
    EXPECT_EQ(BackendAddress::configured(prefs), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Sources, BackendAddressSource,
    ::testing::Values(SourceCase { "nothing", std::nullopt, std::nullopt, QString() },
        SourceCase { "setting only", std::nullopt, QStringLiteral("http://10.0.0.2:8080/"),
            QStringLiteral("http://10.0.0.2:8080") },
        SourceCase { "environment only", QByteArray(" http://127.0.0.1:9/ "), std::nullopt,
            QStringLiteral("http://127.0.0.1:9") },
        SourceCase { "environment over setting", QByteArray("https://env.example"),
            QStringLiteral("http://setting.example"), QStringLiteral("https://env.example") },
        SourceCase { "empty environment falls back to the setting", QByteArray(""),
            QStringLiteral("http://setting.example"), QStringLiteral("http://setting.example") },
        SourceCase { "blank setting is no setting", std::nullopt, QStringLiteral("   "), QString() }),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.name);
        name.replace(u' ', u'_');
        return name.toStdString();
    });

TEST(BackendAddress, OnlyHttpAddressesWithAHostAreUsable)
{
    const struct {
        const char* address;
        State state;
    } cases[] = {
        { "", State::NotConfigured },
        { "  ", State::NotConfigured },
        { "http://127.0.0.1:8080", State::Usable },
        { "https://backend.example", State::Usable },
        { "HTTP://backend.example", State::Usable },
        { "localhost:8080", State::Invalid }, // read as scheme "localhost"
        { "backend.example", State::Invalid },
        { "ftp://backend.example", State::Invalid },
        { "http://", State::Invalid },
        { "http:///path", State::Invalid },
    };
    for (const auto& c : cases)
        EXPECT_EQ(BackendAddress::stateOf(QString::fromLatin1(c.address)), c.state) << c.address;
}

TEST(BackendAddress, EachProblemIsToldOnceInTheNoticesAndOnceInTheLog)
{
    fakes::TempHome home;
    platform::UserNotices::shared().resetForTesting();
    LogCapture log;
    LogCapture::lines().clear();

    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_FALSE(BackendAddress::checkUsable(QString()));
        EXPECT_FALSE(BackendAddress::checkUsable(QStringLiteral("localhost:8080")));
        BackendAddress::reportUnreachable(
            QStringLiteral("http://127.0.0.1:9"), QStringLiteral("Connection refused"));
    }
    EXPECT_TRUE(BackendAddress::checkUsable(QStringLiteral("http://127.0.0.1:9")));

    const auto notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].key, BackendAddress::kNotConfiguredNotice);
    EXPECT_TRUE(notices[0].text.contains(QStringLiteral("PRAVIK_BACKEND_URL")));
    EXPECT_TRUE(notices[0].text.contains(BackendAddress::kPreferenceKey));
    EXPECT_EQ(notices[1].key, BackendAddress::kInvalidNotice);
    EXPECT_TRUE(notices[1].text.contains(QStringLiteral("localhost:8080")));
    EXPECT_EQ(notices[2].key, BackendAddress::kUnreachableNotice);
    EXPECT_TRUE(notices[2].text.contains(QStringLiteral("http://127.0.0.1:9")));
    EXPECT_TRUE(notices[2].text.contains(QStringLiteral("Connection refused")));

    EXPECT_EQ(LogCapture::count(QStringLiteral("no address is configured")), 1);
    EXPECT_EQ(LogCapture::count(QStringLiteral("\"localhost:8080\" is not an http")), 1);
    EXPECT_EQ(LogCapture::count(QStringLiteral("cannot be reached (Connection refused)")), 1);
    platform::UserNotices::shared().resetForTesting();
}

} // namespace
