#include "ui/CheckUpdateInfo.h"

#include "fakes/FakeHttpServer.h"
#include "platform/HttpClient.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using fakes::FakeHttpServer;
using Feed = CheckUpdateInfo::Feed;
using FeedOutcome = CheckUpdateInfo::Outcome;

const QByteArray kGoodFeed = R"(<?xml version="1.0" encoding="UTF-8"?>
<update>
  <title>Pravik 2.1</title>
  <version>2.1.0</version>
  <url>https://downloads.example.com/pravik-2.1.0.deb</url>
  <Content>Faster dictation#Fixes</Content>
  <md5>0cc175b9c0f1b6a831c399e269772661</md5>
</update>)";

TEST(CheckUpdateFeedTest, ReadsGoodAndBrokenDocuments)
{
    const struct {
        const char* name;
        QByteArray xml;
        FeedOutcome outcome; // against version 2.0.5
        const char* version;
        const char* content;
    } cases[] = {
        { "good feed", kGoodFeed, FeedOutcome::Newer, "2.1.0", "Faster dictation\nFixes" },
        { "same version", "<u><version>2.0.5</version></u>", FeedOutcome::NotNewer, "2.0.5", "" },
        { "older version", "<u><version>1.9</version></u>", FeedOutcome::NotNewer, "1.9", "" },
        { "numeric not textual", "<u><version>2.0.10</version></u>", FeedOutcome::Newer, "2.0.10", "" },
        { "entities and CDATA", "<u><version>2.2</version><Content>a &amp; b#<![CDATA[c<d]]></Content></u>",
            FeedOutcome::Newer, "2.2", "a & b\nc<d" },
        { "names are case-sensitive", "<u><Version>9.0</Version></u>", FeedOutcome::Unknown, "", "" },
        { "no version", "<u><url>https://x</url></u>", FeedOutcome::Unknown, "", "" },
        { "version not a version", "<u><version>latest</version></u>", FeedOutcome::Unknown, "latest", "" },
        { "broken XML after the version", "<u><version>9.0</version><url>", FeedOutcome::Unknown, "9.0", "" },
        { "mismatched tags", "<u><version>9.0</u></version>", FeedOutcome::Unknown, "9.0", "" },
        { "not XML", "{\"version\":\"9.0\"}", FeedOutcome::Unknown, "", "" },
        { "empty", "", FeedOutcome::Unknown, "", "" },
        { "text after a nested end", "<u><version>3.<b/>0</version></u>", FeedOutcome::Unknown, "3.", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Feed feed = CheckUpdateInfo::readFeed(c.xml);
        EXPECT_EQ(CheckUpdateInfo::outcomeFor(feed, QStringLiteral("2.0.5")), c.outcome);
        EXPECT_EQ(feed.version, QString::fromUtf8(c.version));
        EXPECT_EQ(feed.content, QString::fromUtf8(c.content));
    }
}

TEST(CheckUpdateFeedTest, ASecondFeedKeepsEarlierValuesButDecidesOnlyOnItsOwnVersion)
{
    const Feed first = CheckUpdateInfo::readFeed(kGoodFeed);
    const Feed second = CheckUpdateInfo::readFeed("<u><Content>only news</Content></u>", first);
    EXPECT_EQ(second.version, QStringLiteral("2.1.0"));
    EXPECT_EQ(second.url, QStringLiteral("https://downloads.example.com/pravik-2.1.0.deb"));
    EXPECT_EQ(second.title, QStringLiteral("Pravik 2.1"));
    EXPECT_EQ(second.md5, QStringLiteral("0cc175b9c0f1b6a831c399e269772661"));
    EXPECT_EQ(second.content, QStringLiteral("only news"));
    // The kept version is not this feed's: no update is claimed from it.
    EXPECT_EQ(CheckUpdateInfo::outcomeFor(second, QStringLiteral("1.0")), FeedOutcome::Unknown);
}

class CheckUpdateInfoTest : public ::testing::Test {
protected:
    std::pair<FeedOutcome, QString> check(CheckUpdateInfo& info)
    {
        std::optional<std::pair<FeedOutcome, QString>> result;
        int calls = 0;
        info.checkVersion([&](FeedOutcome outcome, const QString& url) {
            ++calls;
            result = { outcome, url };
        });
        EXPECT_TRUE(FakeHttpServer::waitUntil([&] { return result.has_value(); }));
        EXPECT_EQ(calls, 1);
        return result.value_or(std::pair { FeedOutcome::Unknown, QString() });
    }

    FakeHttpServer server_;
};

TEST_F(CheckUpdateInfoTest, FetchesTheFeedAndOffersItsAddressWhenNewer)
{
    server_.enqueue("GET", CheckUpdateInfo::kFeedPath, FakeHttpServer::Reply::text(kGoodFeed, 200, "text/xml"));
    server_.enqueue("GET", CheckUpdateInfo::kFeedPath,
        FakeHttpServer::Reply::text("<u><version>2.1.0</version></u>", 200, "text/xml"));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
    CheckUpdateInfo info(platform::HttpClient::shared(), base, QStringLiteral("2.0"));
    const auto [outcome, url] = check(info);
    EXPECT_EQ(outcome, FeedOutcome::Newer);
    EXPECT_EQ(url, QStringLiteral("https://downloads.example.com/pravik-2.1.0.deb"));
    EXPECT_EQ(info.dmgDownloadURL(), url);
    EXPECT_EQ(info.content(), QStringLiteral("Faster dictation\nFixes"));
    ASSERT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(server_.requests()[0].method, "GET");
    EXPECT_EQ(server_.requests()[0].target, "/Wendrix/app_mac.xml");

    CheckUpdateInfo same(platform::HttpClient::shared(), base, QStringLiteral("2.1.0"));
    EXPECT_EQ(check(same).first, FeedOutcome::NotNewer);
    EXPECT_EQ(same.dmgDownloadURL(), QString());
}

TEST_F(CheckUpdateInfoTest, UnreadableFeedsAreUnknown)
{
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
    server_.enqueue("GET", CheckUpdateInfo::kFeedPath, FakeHttpServer::Reply::text(kGoodFeed, 500));
    server_.enqueue("GET", CheckUpdateInfo::kFeedPath, FakeHttpServer::Reply::text("", 200));
    server_.enqueue("GET", CheckUpdateInfo::kFeedPath, FakeHttpServer::Reply::text("<u><version>9", 200));
    CheckUpdateInfo info(platform::HttpClient::shared(), base, QStringLiteral("1.0"));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto [outcome, url] = check(info);
        EXPECT_EQ(outcome, FeedOutcome::Unknown);
        EXPECT_TRUE(url.isEmpty());
    }
    // Not configured, and plain HTTP to another host: no request at all.
    for (const char* origin : { "", "http://updates.example.com" }) {
        CheckUpdateInfo unusable(platform::HttpClient::shared(), QString::fromLatin1(origin), QStringLiteral("1.0"));
        EXPECT_EQ(check(unusable).first, FeedOutcome::Unknown);
    }
    EXPECT_EQ(server_.requestCount(), 3);
}

} // namespace
