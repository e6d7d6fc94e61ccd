// The dictation clients against the fake service on 127.0.0.1: real sockets,
// virtual time for the client's own delays.
#include "PrintRecognitionResult.h"
#include "ScriptedPcmSource.h"
#include "core/MMUserInfo.h"
#include "core/mmApiKeyItem.h"
#include "fakes/FakeDictationService.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/mmXFYunHaiwaiWebApiDomestic.h"
#include "voice/mmXFYunWebApiDomestic.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <ostream>

namespace {

using Type = RecognitionResultType;
using Results = QList<RecognitionResult>;
using Service = fakes::FakeDictationService;
using Reply = Service::Reply;

using FakePcmSource = ScriptedPcmSource;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    return fakes::FakeHttpServer::waitUntil(condition, timeoutMs);
}

// Turns the event loop for a while, for things that must not happen.
void settle(int ms = 150)
{
    fakes::FakeHttpServer::waitUntil([] { return false; }, ms);
}

QList<int> statuses(const Service::Connection& connection)
{
    QList<int> list;
    for (const Service::Frame& frame : connection.frames)
        list.append(frame.status);
    return list;
}

QList<int> audioSession(int frames)
{
    QList<int> list { 0 };
    for (int i = 1; i < frames; ++i)
        list.append(1);
    list.append(2);
    return list;
}

QJsonObject business(const QString& language, const QString& accent, const QString& rlang, bool dwa)
{
    QJsonObject b {
        { QStringLiteral("language"), language },
        { QStringLiteral("domain"), QStringLiteral("iat") },
        { QStringLiteral("accent"), accent },
        { QStringLiteral("vad_eos"), 1500 },
        { QStringLiteral("ptt"), 1 },
        { QStringLiteral("rlang"), rlang },
        { QStringLiteral("nunum"), 1 },
    };
    if (dwa)
        b.insert(QStringLiteral("dwa"), QStringLiteral("wpgs"));
    return b;
}

class AsrClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.setSource(PcmSourceRegistry::kLinkUsb, &usb);
        user.deviceInfo().setTestLinkMode(PcmSourceRegistry::kLinkUsb);
        keys.cn_urlstr = mainland.endpoint();
        keys.iat_appid = mainland.credentials().appId;
        keys.iat_appkey = mainland.credentials().apiKey;
        keys.iat_appsecret = mainland.credentials().apiSecret;
        keys.int_urlstr = overseas.endpoint();
        keys.int_iat_appid = overseas.credentials().appId;
        keys.int_iat_appkey = overseas.credentials().apiKey;
        keys.int_iat_appsecret = overseas.credentials().apiSecret;
        user.setApikeyItem(keys);
    }

    void TearDown() override
    {
        EXPECT_TRUE(mainland.problems().isEmpty()) << mainland.problems().join('\n').toStdString();
        EXPECT_TRUE(overseas.problems().isEmpty()) << overseas.problems().join('\n').toStdString();
        EXPECT_TRUE(minor.problems().isEmpty()) << minor.problems().join('\n').toStdString();
    }

    mmXFYunDictationClient::Environment environment() { return { user, registry, time, time }; }

    void begin(mmXFYunDictationClient& client, const QString& language, Results* into = nullptr)
    {
        Results* list = into ? into : &results;
        client.beginAsrWithRecognitionLanguage(
            language,
            [list](bool ok, const QString& text, Type type) {
                EXPECT_TRUE(ok);
                list->append({ text, type });
            },
            [this](RecognitionFailure failure) { failures.append(failure); });
    }

    // Distinct 240-byte blocks, as one mSBC frame decodes to.
    static QByteArray block(int i)
    {
        QByteArray b(240, char(i & 0xFF));
        b[0] = char((i >> 8) & 0xFF);
        return b;
    }
    QByteArray feed(int from, int count)
    {
        QByteArray all;
        for (int i = from; i < from + count; ++i) {
            usb.push(block(i));
            all += block(i);
        }
        return all;
    }

    QStringList finished(const Results& list) const
    {
        QStringList texts;
        for (const RecognitionResult& r : list) {
            if (r.type == Type::SessionFinished)
                texts.append(r.text);
        }
        return texts;
    }

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user { prefs };
    fakes::VirtualTime time; // 1700000000: Tue, 14 Nov 2023 22:13:20 GMT
    FakePcmSource usb;
    PcmSourceRegistry registry;
    mmApiKeyItem keys;
    Service mainland { { QStringLiteral("cn-app"), QStringLiteral("cn-key"), QStringLiteral("cn-secret") } };
    Service overseas { { QStringLiteral("int-app"), QStringLiteral("int-key"),
        QStringLiteral("int-secret") } };
    Service minor { { QStringLiteral("cn-app"), QStringLiteral("cn-key"), QStringLiteral("cn-secret") } };
    Results results;
    QList<RecognitionFailure> failures;
};

TEST_F(AsrClientTest, MainlandDictationStreamsFramesAndDeliversTheCorrectedText)
{
    mainland.expectBusiness(
        business(QStringLiteral("zh_cn"), QStringLiteral("mandarin"), QStringLiteral("zh-cn"), true));
    mainland.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(1),
            Reply::result("今天天气", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(2),
            Reply::result("很好", "apd", true, 3).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    const QByteArray audio = feed(0, 3);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 4; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    EXPECT_EQ(results,
        (Results { { "今天", Type::NewSegment }, { "今天", Type::RunningText },
            { "今天天气", Type::Corrected }, { "今天天气", Type::RunningText }, { "很好", Type::NewSegment },
            { "今天天气很好", Type::RunningText }, { "今天天气很好", Type::SessionFinished },
            { "今天天气很好", Type::RunningText } }));
    ASSERT_EQ(mainland.connections().size(), 1);
    const Service::Connection& c = mainland.connections()[0];
    EXPECT_EQ(c.date, QStringLiteral("Tue, 14 Nov 2023 22:13:20 GMT"));
    EXPECT_EQ(c.appId, QStringLiteral("cn-app"));
    EXPECT_EQ(statuses(c), audioSession(3));
    EXPECT_EQ(c.audio(), audio);
    EXPECT_EQ(usb.subscriptions, 1);
    EXPECT_TRUE(waitUntil([&] { return mainland.connections()[0].closed; }));
}

TEST_F(AsrClientTest, AudioBeforeTheSocketOpensIsBufferedAndSentInOrder)
{
    mainland.addSession({ 300, { Reply::result("好", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    QByteArray audio = feed(0, 5); // before the upgrade is answered
    EXPECT_FALSE(mainland.connections().value(0).open);
    ASSERT_TRUE(waitUntil([&] { return mainland.connections().value(0).audioFrames == 5; }));
    audio += feed(5, 2);
    ASSERT_TRUE(waitUntil([&] { return mainland.connections()[0].audioFrames == 7; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    EXPECT_EQ(statuses(mainland.connections()[0]), audioSession(7));
    EXPECT_EQ(mainland.connections()[0].audio(), audio);
    EXPECT_EQ(finished(results), QStringList { QStringLiteral("好") });
}

TEST_F(AsrClientTest, EndWhileConnectingSendsTheBufferedAudioThenTheLastFrame)
{
    mainland.addSession({ 300, { Reply::result("好", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    const QByteArray audio = feed(0, 3);
    client.endAsr();
    EXPECT_TRUE(client.isRunning());
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    EXPECT_EQ(statuses(mainland.connections()[0]), audioSession(3));
    EXPECT_EQ(mainland.connections()[0].audio(), audio);
    EXPECT_EQ(finished(results), QStringList { QStringLiteral("好") });
}

TEST_F(AsrClientTest, TheBufferKeepsTheLatestFiveSecondsOfAudio)
{
    mainland.addSession({ 300, { Reply::result("好", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    feed(0, 700); // 5.25 s
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    const int kept = int(mmXFYunDictationClient::kMaxBufferedAudioBytes / 240);
    QByteArray expected;
    for (int i = 700 - kept; i < 700; ++i)
        expected += block(i);
    EXPECT_EQ(mainland.connections()[0].audio(), expected);
}

TEST_F(AsrClientTest, AnEarlyEndOfSessionOpensANewConnectionAndTheDictationGoesOn)
{
    mainland.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(1),
            Reply::result("天气", "apd", true, 2).afterAudioFrames(2),
            // Still sent on the old connection after its last reply: ignored.
            Reply::result("迟到", "apd", false, 3).afterAudioFrames(2).thenClose() } });
    mainland.addSession({ 0, { Reply::result("很好", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    feed(0, 2);
    ASSERT_TRUE(
        waitUntil([&] { return mainland.connections().size() == 2 && mainland.connections()[1].open; }));
    const QByteArray later = feed(2, 2);
    ASSERT_TRUE(waitUntil([&] { return mainland.connections()[1].audioFrames == 2; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    EXPECT_EQ(finished(results), (QStringList { QStringLiteral("今天天气"), QStringLiteral("很好") }));
    for (const RecognitionResult& r : std::as_const(results))
        EXPECT_FALSE(r.text.contains(QStringLiteral("迟到"))) << r.text.toStdString();
    EXPECT_EQ(usb.subscriptions, 1); // the slot is kept, not taken again
    const Service::Connection& second = mainland.connections()[1];
    EXPECT_EQ(statuses(second), audioSession(2)); // the first frame again carries the parameters
    EXPECT_EQ(second.appId, QStringLiteral("cn-app"));
    EXPECT_EQ(second.audio(), later);
    EXPECT_TRUE(mainland.connections()[0].closed);
}

struct FailureCase {
    const char* name;
    bool badSecret;
};

class AsrClientFailureTest : public AsrClientTest, public ::testing::WithParamInterface<FailureCase> { };

TEST_P(AsrClientFailureTest, ReconnectsAfterGrowingPausesThenGivesUpWithAMessage)
{
    if (GetParam().badSecret) {
        keys.iat_appsecret = QStringLiteral("not-the-secret");
        user.setApikeyItem(keys);
    } else {
        // An error, and words the same connection still sends after it.
        mainland.setDefaultSession({ 0,
            { Reply::error(10105, QStringLiteral("illegal access")).onOpen(),
                Reply::result("迟到", "apd", true, 1).onOpen() } });
    }
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    double pause = mmXFYunDictationClient::kFirstReconnectDelay;
    for (int attempt = 0; attempt < mmXFYunDictationClient::kMaxReconnectAttempts; ++attempt) {
        ASSERT_TRUE(waitUntil([&] { return mainland.connections().size() == attempt + 1; }));
        settle();
        feed(attempt, 1); // waits for the next connection
        EXPECT_EQ(mainland.connections().size(), attempt + 1) << "reconnected without a pause";
        time.advance(pause - 0.01);
        settle(50);
        EXPECT_EQ(mainland.connections().size(), attempt + 1) << "pause too short before try " << attempt + 1;
        time.advance(0.02);
        pause *= 2;
    }
    ASSERT_TRUE(waitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures, QList<RecognitionFailure> { RecognitionFailure::ConnectionFailed });
    EXPECT_EQ(recognitionFailureMessageKey(failures[0]), QStringLiteral("请检查网络"));
    EXPECT_FALSE(client.isRunning());
    time.advance(600);
    settle();
    EXPECT_EQ(mainland.connections().size(), 1 + mmXFYunDictationClient::kMaxReconnectAttempts);
    EXPECT_TRUE(results.isEmpty());
    for (const Service::Connection& c : mainland.connections())
        EXPECT_EQ(c.rejectReason, GetParam().badSecret ? QStringLiteral("signature") : QString());
}

INSTANTIATE_TEST_SUITE_P(Failures, AsrClientFailureTest,
    ::testing::Values(FailureCase { "ErrorCode", false }, FailureCase { "BadSignature", true }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(AsrClientTest, AGoodReplyStartsTheCountOfTriesAfresh)
{
    // Error, good session end, error again: the pauses restart from the first.
    mainland.addSession({ 0, { Reply::error(10114).onOpen().thenClose() } });
    mainland.addSession({ 0, { Reply::result("一", "apd", true, 1).afterAudioFrames(1).thenClose() } });
    mainland.addSession({ 0, { Reply::error(10114).onOpen().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(waitUntil([&] { return mainland.connections().size() == 1; }));
    settle();
    feed(0, 1);
    time.advance(mmXFYunDictationClient::kFirstReconnectDelay);
    ASSERT_TRUE(waitUntil([&] { return mainland.connections().size() == 3; }));
    settle();
    time.advance(mmXFYunDictationClient::kFirstReconnectDelay);
    EXPECT_TRUE(waitUntil([&] { return mainland.connections().size() == 4; }));
    EXPECT_EQ(finished(results), QStringList { QStringLiteral("一") });
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(AsrClientTest, ANewDictationIsNotTouchedByTheEarlierOne)
{
    mainland.addSession({ 0, { Reply::result("第一", "apd", false, 1).afterAudioFrames(1) } }); // never ends
    mainland.addSession({ 0, { Reply::result("第二", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    Results first;
    begin(client, QStringLiteral("zh_cn"), &first);
    const quint64 firstId = client.dictationId();
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    feed(0, 1);
    ASSERT_TRUE(waitUntil([&] { return first.size() == 2; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return mainland.connections()[0].frames.size() == 2; }));

    Results second;
    begin(client, QStringLiteral("zh_cn"), &second);
    EXPECT_NE(client.dictationId(), firstId);
    // The earlier dictation still waits for its last reply, on its own connection.
    EXPECT_TRUE(finished(first).isEmpty());
    EXPECT_EQ(client.finishingCount(), 1);
    ASSERT_TRUE(
        waitUntil([&] { return mainland.connections().size() == 2 && mainland.connections()[1].open; }));
    mainland.sendOn(1, Reply::result("迟到", "apd", true, 2).message);
    ASSERT_TRUE(waitUntil([&] { return !finished(first).isEmpty(); }));
    EXPECT_EQ(finished(first), QStringList { QStringLiteral("第一迟到") });
    EXPECT_EQ(client.finishingCount(), 0);
    const Results firstBefore = first;
    time.advance(mmXFYunDictationClient::kFinalReplyTimeout + 1); // the first one's wait for its last reply
    settle();
    EXPECT_TRUE(client.isRunning());
    EXPECT_TRUE(second.isEmpty());
    EXPECT_EQ(first, firstBefore);

    feed(1, 1);
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));
    EXPECT_EQ(second,
        (Results { { "第二", Type::NewSegment }, { "第二", Type::RunningText },
            { "第二", Type::SessionFinished }, { "第二", Type::RunningText } }));
}

// A dictation begun while the earlier one still streams (the key pressed
// again before the earlier end went out): the earlier one sends its last
// frame, and the words the service returns for its last audio still reach
// its own callback; the audio from then on is the new one's.
TEST_F(AsrClientTest, AReplacedDictationSendsItsLastFrameAndKeepsItsLastWords)
{
    mainland.addSession({ 0,
        { Reply::result("第一", "apd", false, 1).afterAudioFrames(1),
            Reply::result("句", "apd", true, 2).onLastFrame().thenClose() } });
    mainland.addSession({ 0, { Reply::result("第二", "apd", true, 1).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    Results first;
    begin(client, QStringLiteral("zh_cn"), &first);
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    const QByteArray firstAudio = feed(0, 2);
    ASSERT_TRUE(waitUntil([&] { return first.size() == 2; }));

    Results second;
    begin(client, QStringLiteral("zh_cn"), &second);
    const QByteArray secondAudio = feed(2, 3);
    ASSERT_TRUE(waitUntil([&] { return !finished(first).isEmpty(); }));
    EXPECT_EQ(finished(first), QStringList { QStringLiteral("第一句") });
    EXPECT_EQ(statuses(mainland.connections()[0]), audioSession(2));
    EXPECT_EQ(mainland.connections()[0].audio(), firstAudio);
    EXPECT_TRUE(client.isRunning());
    EXPECT_TRUE(second.isEmpty());

    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));
    EXPECT_EQ(finished(second), QStringList { QStringLiteral("第二") });
    ASSERT_EQ(mainland.connections().size(), 2);
    EXPECT_EQ(statuses(mainland.connections()[1]), audioSession(3));
    EXPECT_EQ(mainland.connections()[1].audio(), secondAudio);
    EXPECT_EQ(finished(first), QStringList { QStringLiteral("第一句") });
    EXPECT_EQ(client.finishingCount(), 0);
}

TEST_F(AsrClientTest, EmptyLastReplyFinishesWithTheAccumulatedText)
{
    mainland.addSession({ 0,
        { Reply::result("你好", "apd", false, 1).afterAudioFrames(1),
            Reply::result("你好吗", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(2),
            Reply::result(QString(), "apd", true, 3).onLastFrame().thenClose() } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    feed(0, 2);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 4; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));
    EXPECT_EQ(finished(results), QStringList { QStringLiteral("你好吗") });
}

TEST_F(AsrClientTest, WithoutALastReplyTheDictationFinishesWithItsTextAfterAWhile)
{
    mainland.addSession({ 0, { Reply::result("你好", "apd", false, 1).afterAudioFrames(1) } });
    mmXFYunWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    feed(0, 1);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 2; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return mainland.connections()[0].frames.size() == 2; }));
    time.advance(mmXFYunDictationClient::kFinalReplyTimeout * 0.9);
    EXPECT_TRUE(client.isRunning());
    time.advance(mmXFYunDictationClient::kFinalReplyTimeout * 0.1);
    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(finished(results), QStringList { QStringLiteral("你好") });
    EXPECT_TRUE(waitUntil([&] { return mainland.connections()[0].closed; }));
}

TEST_F(AsrClientTest, EndBeforeAnyAudioSendsNoFrame)
{
    mmXFYunWebApiDomestic client(environment());
    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    client.endAsr();
    EXPECT_FALSE(client.isRunning());
    ASSERT_TRUE(waitUntil([&] { return mainland.connections()[0].closed; }));
    EXPECT_TRUE(mainland.connections()[0].frames.isEmpty());
    feed(0, 1); // after the end: dropped
    settle();
    EXPECT_EQ(mainland.connections().size(), 1);
    EXPECT_TRUE(results.isEmpty());
}

TEST_F(AsrClientTest, OverseasPlainModeDeliversTheWholeSessionTextAndGoesOn)
{
    overseas.expectBusiness(
        business(QStringLiteral("zh_cn"), QStringLiteral("mandarin"), QStringLiteral("zh-cn"), false));
    overseas.addSession({ 0,
        { Reply::result("你好", QString(), false, 1).afterAudioFrames(1),
            Reply::result("世界", QString(), true, 2).afterAudioFrames(2).thenClose() } });
    mmXFYunHaiwaiWebApiDomestic client(environment());

    begin(client, QStringLiteral("zh_cn"));
    feed(0, 2);
    ASSERT_TRUE(waitUntil([&] { return overseas.openCount() == 1 && overseas.connections().size() == 2; }));
    feed(2, 1);
    ASSERT_TRUE(waitUntil([&] { return overseas.connections()[1].audioFrames == 1; }));
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    EXPECT_EQ(results,
        (Results { { "你好", Type::NewSegment }, { "你好", Type::RunningText }, { "世界", Type::NewSegment },
            { "你好世界", Type::RunningText }, { "你好世界", Type::SessionFinished },
            { "你好世界", Type::RunningText } }));
    EXPECT_EQ(overseas.connections()[1].appId, QStringLiteral("int-app"));
    EXPECT_TRUE(mainland.connections().isEmpty());
}

struct RouteCase {
    const char* name;
    bool overseasClient;
    const char* language;
    int service; // 0 mainland, 1 overseas, 2 minor-language
    const char* businessLanguage;
    bool dwa;
};

class AsrClientRouteTest : public AsrClientTest, public ::testing::WithParamInterface<RouteCase> { };

TEST_P(AsrClientRouteTest, RegionAndLanguagePickTheEndpointAndTheCredentials)
{
    const RouteCase& c = GetParam();
    Service* services[] = { &mainland, &overseas, &minor };
    Service& expected = *services[c.service];
    mmXFYunWebApiDomestic domestic(environment());
    domestic.setMinorLanguageEndpoint(minor.endpoint());
    mmXFYunHaiwaiWebApiDomestic haiwai(environment());
    mmXFYunDictationClient& client
        = c.overseasClient ? static_cast<mmXFYunDictationClient&>(haiwai) : domestic;

    begin(client, QString::fromUtf8(c.language));
    ASSERT_TRUE(waitUntil([&] { return expected.openCount() == 1; }));
    feed(0, 1);
    client.endAsr();
    ASSERT_TRUE(waitUntil([&] { return !client.isRunning(); }));

    for (Service* s : services)
        EXPECT_EQ(s->connections().size(), s == &expected ? 1 : 0);
    const Service::Connection& connection = expected.connections()[0];
    EXPECT_TRUE(connection.accepted()) << connection.rejectReason.toStdString();
    EXPECT_EQ(connection.appId, expected.credentials().appId);
    EXPECT_EQ(connection.business.value(QStringLiteral("language")).toString(),
        QString::fromUtf8(c.businessLanguage));
    EXPECT_EQ(connection.business.contains(QStringLiteral("dwa")), c.dwa);
}

INSTANTIATE_TEST_SUITE_P(Routes, AsrClientRouteTest,
    ::testing::Values(RouteCase { "MainlandChinese", false, "zh_cn", 0, "zh_cn", true },
        RouteCase { "MainlandDialect", false, "zh_cn_cantonese_traditional", 0, "zh_cn", true },
        RouteCase { "MainlandEnglish", false, "en_us", 0, "en_us", false },
        RouteCase { "MainlandMinorLanguage", false, "ja_jp", 2, "ja_jp", false },
        RouteCase { "OverseasChinese", true, "zh_cn", 1, "zh_cn", false },
        RouteCase { "OverseasDialect", true, "zh_cn_cantonese_traditional", 1, "zh_cn", false },
        RouteCase { "OverseasEnglish", true, "en_us", 1, "en_us", true },
        RouteCase { "OverseasMinorLanguage", true, "ja_jp", 1, "ja_jp", true }),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

TEST_F(AsrClientTest, CredentialsAreCheckedForTheRegionInUse)
{
    mmXFYunWebApiDomestic domestic(environment());
    mmXFYunHaiwaiWebApiDomestic haiwai(environment());

    mmApiKeyItem mainlandOnly = keys;
    mainlandOnly.int_iat_appsecret.clear();
    user.setApikeyItem(mainlandOnly);
    EXPECT_TRUE(domestic.hasCredentials(QStringLiteral("zh_cn")));
    EXPECT_FALSE(haiwai.hasCredentials(QStringLiteral("zh_cn")));
    begin(haiwai, QStringLiteral("zh_cn"));
    EXPECT_EQ(failures, QList<RecognitionFailure> { RecognitionFailure::MissingCredentials });
    EXPECT_EQ(recognitionFailureMessageKey(failures[0]), QStringLiteral(" apikey 不存在 "));
    EXPECT_FALSE(haiwai.isRunning());
    EXPECT_EQ(usb.subscriptions, 0);

    mmApiKeyItem overseasOnly = keys;
    overseasOnly.cn_urlstr.clear();
    user.setApikeyItem(overseasOnly);
    EXPECT_TRUE(haiwai.hasCredentials(QStringLiteral("zh_cn")));
    EXPECT_FALSE(domestic.hasCredentials(QStringLiteral("zh_cn")));
    // Minor languages do not need the back end's address.
    EXPECT_TRUE(domestic.hasCredentials(QStringLiteral("ja_jp")));

    user.setApikeyItem(std::nullopt);
    EXPECT_FALSE(domestic.hasCredentials(QStringLiteral("zh_cn")));
    EXPECT_FALSE(haiwai.hasCredentials(QStringLiteral("en_us")));

    settle();
    EXPECT_TRUE(mainland.connections().isEmpty());
    EXPECT_TRUE(overseas.connections().isEmpty());
}

TEST_F(AsrClientTest, ALinkWithoutAudioSourceStillRunsTheDictation)
{
    user.deviceInfo().setTestLinkMode(0);
    mmXFYunWebApiDomestic client(environment());
    begin(client, QStringLiteral("zh_cn"));
    EXPECT_EQ(usb.subscriptions, 0);
    ASSERT_TRUE(waitUntil([&] { return mainland.openCount() == 1; }));
    client.endAsr();
    EXPECT_FALSE(client.isRunning());
}

} // namespace
