#include "ui/MMupdateInfo.h"
#include "ui/MMupdateWindow.h"

#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "fakes/FakeBackend.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/ScreenShot.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "voice/UWCmdService.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using fakes::FakeBackend;
using fakes::FakeHttpServer;
using Outcome = MMupdateInfo::Outcome;

TEST(MMupdateVersionTest, PartsCompareNumericallyAndAnythingElseIsNoVersion)
{
    const struct {
        const char* local;
        const char* server;
        std::optional<int> order;
    } cases[] = {
        { "1.2", "1.2.0", 0 },
        { "1.2", "1.2.1", -1 },
        { "1.10.0", "1.9.9", 1 },
        { "2.0", "1.99.99", 1 },
        { "1.0.9", "1.0.10", -1 },
        { "1.0", "01.000", 0 },
        { "1.0", "123456789012345678901234567890", -1 }, // no overflow
        { "1.0", "abc", std::nullopt },
        { "1.0", "2.0-beta", std::nullopt },
        { "1.0", "", std::nullopt },
        { "1.0", "1..0", std::nullopt },
        // White space around a version is not part of it.
        { "1.2.3", "1.2.3\n", 0 },
        { "1.2.3", "1.2.3\r\n", 0 },
        { "1.2.3\n", "1.2.3", 0 },
        { "1.0", " 1.1", -1 },
        { "1.2.3", "\t1.2.2 \n\n", 1 },
        { "1.0", "1.\n0", std::nullopt },
        { "1.0", "1. 1", std::nullopt },
        { "1.0", " \n", std::nullopt },
        { "1.0", "-2", std::nullopt },
        { "1.0", "١.٢", std::nullopt }, // digits of another script are not read as a version
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.local) + " vs " + c.server);
        EXPECT_EQ(MMupdateInfo::compareVersions(QString::fromUtf8(c.local), QString::fromUtf8(c.server)), c.order);
    }
}

class MMupdateCheckTest : public ::testing::Test {
protected:
    MMupdateCheckTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , http_(platform::HttpClient::shared())
    {
    }

    Outcome check()
    {
        MMupdateInfo info(user_, http_, backend_.baseUrl(), QStringLiteral("1.4.2"));
        std::optional<Outcome> outcome;
        int calls = 0;
        info.checkVersion([&](Outcome o) {
            ++calls;
            outcome = o;
        });
        EXPECT_TRUE(FakeHttpServer::waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(calls, 1);
        return outcome.value_or(Outcome::Unknown);
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    SHHttpManager http_;
    FakeBackend backend_;
};

TEST_F(MMupdateCheckTest, NewerSameOlderAndSkippedVersions)
{
    const struct {
        const char* version;
        Outcome outcome;
    } cases[] = {
        { "1.4.3", Outcome::Newer },
        { "1.5", Outcome::Newer },
        { "1.4.2", Outcome::NotNewer },
        { "1.4.2.0", Outcome::NotNewer },
        { "1.3.99", Outcome::NotNewer },
        { "1.4.2\n", Outcome::NotNewer },
        { " 1.4.3\r\n", Outcome::Newer },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        backend_.expectAppUpdate(
            FakeBackend::appUpdate(QString::fromLatin1(c.version), QStringLiteral("https://example.com/get")));
        EXPECT_EQ(check(), c.outcome);
        EXPECT_EQ(user_.neewVersion(), QString::fromLatin1(c.version));
        EXPECT_EQ(user_.updateURL(), QStringLiteral("https://example.com/get"));
    }

    // A skipped version is not offered; once the skip is cleared it is again.
    user_.setJumpVersion(QStringLiteral("2.0.1"));
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.1"), QStringLiteral("https://e.com/2")));
    EXPECT_EQ(check(), Outcome::NotNewer);
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.2"), QStringLiteral("https://e.com/3")));
    EXPECT_EQ(check(), Outcome::Newer);
    // Skipped as the server sent it once, with a line break; sent without
    // one later, it is the same version.
    user_.setJumpVersion(QStringLiteral("2.0.1\n"));
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.1"), QStringLiteral("https://e.com/2")));
    EXPECT_EQ(check(), Outcome::NotNewer);
    user_.setJumpVersion(QString());
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.1"), QStringLiteral("https://e.com/2")));
    EXPECT_EQ(check(), Outcome::Newer);
    EXPECT_TRUE(backend_.problems().isEmpty()) << backend_.problems().join(u'\n').toStdString();
}

TEST_F(MMupdateCheckTest, FailuresAndMalformedRepliesAreUnknownNeverNewer)
{
    const struct {
        const char* name;
        FakeHttpServer::Reply reply;
    } cases[] = {
        { "no data", FakeHttpServer::Reply::json(R"({"code":0})") },
        { "no ver", FakeHttpServer::Reply::json(R"({"data":{"url":"https://e.com"}})") },
        { "ver a number", FakeHttpServer::Reply::json(R"({"data":{"ver":9,"url":"https://e.com"}})") },
        { "ver not a version", FakeHttpServer::Reply::json(R"({"data":{"ver":"new!","url":"https://e.com"}})") },
        { "data a list", FakeHttpServer::Reply::json(R"({"data":["9.9"]})") },
        { "broken JSON", FakeHttpServer::Reply::json(R"({"data":{"ver":"9.9")") },
        { "HTML", FakeHttpServer::Reply::text("<html>maintenance</html>", 200, "text/html") },
        { "HTTP error", FakeHttpServer::Reply::json(R"({"data":{"ver":"9.9"}})", 503) },
        { "dropped", FakeHttpServer::Reply::closeConnection() }, // last: the HTTP client may try it twice
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        backend_.expectAppUpdate(c.reply);
        if (c.reply.mode == FakeHttpServer::Reply::Mode::CloseConnection)
            backend_.expectAppUpdate(c.reply);
        EXPECT_EQ(check(), Outcome::Unknown);
    }
    EXPECT_TRUE(backend_.problems().isEmpty()) << backend_.problems().join(u'\n').toStdString();
}

TEST_F(MMupdateCheckTest, NoBackEndAddressMeansUnknownWithoutARequest)
{
    MMupdateInfo info(user_, http_, QString(), QStringLiteral("1.0"));
    std::optional<bool> newer;
    info.checkVersionCallback([&](bool n) { newer = n; });
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return newer.has_value(); }));
    EXPECT_FALSE(*newer);
    EXPECT_EQ(backend_.server().requestCount(), 0);
}

class MMupdateWindowTest : public ::testing::Test {
protected:
    MMupdateWindowTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , commands_(&prefs_)
    {
        user_.setNeewVersion(QStringLiteral("3.1.0"));
        user_.setUpdateURL(QStringLiteral("https://downloads.example.com/pravik-3.1.0.deb"));
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    UWCmdService commands_;
    fakes::FakeWorkspace workspace_;
};

// Each label is joined to its version as the language writes it (only
// Chinese with the full-width colon); an open window follows a change of
// the interface language.
TEST_F(MMupdateWindowTest, ShowsBothVersionsAndTheHintInEachLanguage)
{
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    MMupdateWindow window(user_, commands_);
    window.show();
    const auto tr = [](const char* key) { return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key)); };
    const struct {
        quint64 language;
        const char* latest;
        const char* current;
    } cases[] = {
        { 0, "最新版本：", "当前版本：" },
        { 1, "Latest version: ", "Current version: " },
        { 2, "Versi terbaru: ", "Versi saat ini: " },
        { 3, "Phiên bản mới nhất: ", "Phiên bản hiện tại: " },
        { 4, "최신 버전: ", "현재 버전: " },
    };
    for (const auto& c : cases) {
        languages.setIndexOfUI(c.language);
        platform::NotificationCenter::defaultCenter().post(notifications::kHadChangeUILanguage);
        EXPECT_EQ(window.titleLb()->text(),
            QString::fromUtf8(c.latest) + QStringLiteral("3.1.0\n") + QString::fromUtf8(c.current)
                + MMUserInfo::myVersion())
            << c.language;
        EXPECT_EQ(window.windowTitle(), tr("版本更新")) << c.language;
        EXPECT_TRUE(window.infoTF()->text().startsWith(u'\n'));
        EXPECT_TRUE(window.infoTF()->text().endsWith(tr("点击跳过之后可以从设置页重新检测更新。")))
            << c.language;
        EXPECT_EQ(window.jumpButton()->text(), tr("跳过此版本")) << c.language;
        EXPECT_EQ(window.donwLoadButton()->text(), tr("下载")) << c.language;
    }
    languages.setIndexOfUI(before);
}

TEST_F(MMupdateWindowTest, DownloadOpensTheAddressAndKeepsTheWindowSkipStoresTheVersionAndCloses)
{
    MMupdateWindow window(user_, commands_);
    window.show();
    window.donwLoadButton()->click();
    ASSERT_EQ(workspace_.openedUrls().size(), 1);
    EXPECT_EQ(workspace_.openedUrls()[0], QUrl(QStringLiteral("https://downloads.example.com/pravik-3.1.0.deb")));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(user_.jumpVersion().isEmpty());

    window.jumpButton()->click();
    EXPECT_EQ(user_.jumpVersion(), QStringLiteral("3.1.0"));
    EXPECT_FALSE(window.isVisible());

    window.action(42); // an unknown tag does nothing
    EXPECT_EQ(workspace_.openedUrls().size(), 1);
}

TEST_F(MMupdateWindowTest, ADownloadAddressThatIsNoWebAddressIsNotOpened)
{
    for (const char* address : { "file:///etc/passwd", "", "javascript:alert(1)" }) {
        user_.setUpdateURL(QString::fromLatin1(address));
        MMupdateWindow window(user_, commands_);
        window.action(MMupdateWindow::kDownloadTag);
    }
    EXPECT_TRUE(workspace_.openedUrls().isEmpty());
}

TEST_F(MMupdateWindowTest, PictureOfTheUpdateWindow)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(fakes::screenShotLanguage());
    MMupdateWindow window(user_, commands_);
    window.show();
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("update-window")).isEmpty());
    languages.setIndexOfUI(before);
}

} // namespace
