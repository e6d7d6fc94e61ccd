// The two earlier dictation clients against the fake dictation service on
// 127.0.0.1, with the device links' audio and the computer's microphone.
#include "PrintRecognitionResult.h"
#include "ScriptedPcmSource.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/UWSanboxFileManager.h"
#include "core/mmApiKeyItem.h"
#include "device/DeviceAlertPresenter.h"
#include "fakes/FakeDictationService.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeMicrophoneInput.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "voice/KWAsrXunfeiWebApiService.h"
#include "voice/MMAsrXunfeiWebApiServiceHaiwai.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/MMAudioQueueCapture.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace earlier_asr_test {

using Type = RecognitionResultType;
using Results = QList<RecognitionResult>;
using Service = fakes::FakeDictationService;
using Reply = Service::Reply;

using LinkAudio = ScriptedPcmSource;

class AlertLog final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString& message, const QString& informative, const QStringList& buttons,
        std::function<void(int)>) override
    {
        shown << QStringList { message, informative } + buttons;
    }
    QList<QStringList> shown;
};

bool eventually(const std::function<bool()>& condition)
{
    return fakes::FakeHttpServer::waitUntil(condition, 5000);
}

QList<int> frameStatuses(const Service::Connection& connection)
{
    QList<int> list;
    for (const Service::Frame& frame : connection.frames)
        list.append(frame.status);
    return list;
}

QJsonObject businessOf(const QString& language, const QString& accent, const QString& rlang, int vadEos, bool dwa)
{
    QJsonObject b { { QStringLiteral("language"), language }, { QStringLiteral("domain"), QStringLiteral("iat") },
        { QStringLiteral("accent"), accent }, { QStringLiteral("vad_eos"), vadEos }, { QStringLiteral("ptt"), 1 },
        { QStringLiteral("rlang"), rlang }, { QStringLiteral("nunum"), 1 } };
    if (dwa)
        b.insert(QStringLiteral("dwa"), QStringLiteral("wpgs"));
    return b;
}

QByteArray pcmBlock(int i)
{
    QByteArray b(240, char(i & 0xFF));
    b[0] = char((i >> 8) & 0xFF);
    return b;
}

class EarlierDictationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry_.setSource(PcmSourceRegistry::kLinkUsb, &usb_);
        registry_.setSource(PcmSourceRegistry::kLinkBluetooth, &ble_);
        keys_.cn_urlstr = mainland_.endpoint();
        keys_.iat_appid = mainland_.credentials().appId;
        keys_.iat_appkey = mainland_.credentials().apiKey;
        keys_.iat_appsecret = mainland_.credentials().apiSecret;
        keys_.int_urlstr = overseas_.endpoint();
        keys_.int_iat_appid = overseas_.credentials().appId;
        keys_.int_iat_appkey = overseas_.credentials().apiKey;
        keys_.int_iat_appsecret = overseas_.credentials().apiSecret;
        user_.setApikeyItem(keys_);
        user_.setIpCountry(QStringLiteral("cn"));
    }
    void TearDown() override
    {
        EXPECT_TRUE(mainland_.problems().isEmpty()) << mainland_.problems().join('\n').toStdString();
        EXPECT_TRUE(overseas_.problems().isEmpty()) << overseas_.problems().join('\n').toStdString();
    }

    EarlierDictationClient::Environment environment() { return { user_, registry_, alerts_, time_ }; }
    void begin(EarlierDictationClient& client, const QString& language)
    {
        client.beginAsrWithRecognitionLanguage(
            language, [this](bool, const QString& text, Type type) { results_.append({ text, type }); },
            [this](RecognitionFailure failure) { failures_.append(failure); });
    }

    fakes::TempHome home_;
    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    fakes::VirtualTime time_;
    LinkAudio usb_;
    LinkAudio ble_;
    PcmSourceRegistry registry_;
    AlertLog alerts_;
    mmApiKeyItem keys_;
    Service mainland_ { { QStringLiteral("cn-app"), QStringLiteral("cn-key"), QStringLiteral("cn-secret") } };
    Service overseas_ { { QStringLiteral("int-app"), QStringLiteral("int-key"), QStringLiteral("int-secret") } };
    Results results_;
    QList<RecognitionFailure> failures_;
};

TEST_F(EarlierDictationTest, MainlandClientTakesBothLinksAndKeepsItsSessionOpenAfterTheLastReply)
{
    mainland_.expectBusiness(businessOf("zh_cn", "mandarin", "zh-cn", 2000, true));
    mainland_.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(1),
            Reply::result("今天天气", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(2),
            Reply::result("很好", "apd", true, 3).onLastFrame() } });
    KWAsrXunfeiWebApiService client(environment());
    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(eventually([&] { return mainland_.openCount() == 1; }));
    ASSERT_TRUE(eventually([&] { return usb_.subscriptions == 1 && ble_.subscriptions == 1; }));
    usb_.push(pcmBlock(0));
    ble_.push(pcmBlock(1));
    ASSERT_TRUE(eventually([&] { return results_.size() == 4; }));
    client.endAsrBluetooth();
    ASSERT_TRUE(eventually([&] { return results_.size() == 8; }));

    EXPECT_EQ(results_,
        (Results { { "今天", Type::NewSegment }, { "", Type::RunningText }, { "今天天气", Type::Corrected },
            { "今天天气", Type::RunningText }, { "很好", Type::NewSegment }, { "", Type::RunningText },
            { "今天天气很好", Type::SessionFinished }, { "今天天气很好", Type::RunningText } }));
    const Service::Connection& c = mainland_.connections()[0];
    EXPECT_EQ(frameStatuses(c), (QList<int> { 0, 1, 2 }));
    EXPECT_EQ(c.audio(), pcmBlock(0) + pcmBlock(1));
    fakes::FakeHttpServer::waitUntil([] { return false; }, 150);
    EXPECT_FALSE(mainland_.connections()[0].closed); // this client leaves the session to the service
}

TEST_F(EarlierDictationTest, MainlandClientOutsideTheRegionUsesTheOverseasService)
{
    user_.setIpCountry(QStringLiteral("us"));
    overseas_.expectBusiness(businessOf("en_us", "mandarin", "", 2000, true));
    KWAsrXunfeiWebApiService client(environment());
    begin(client, QStringLiteral("en_us"));
    ASSERT_TRUE(eventually([&] { return overseas_.openCount() == 1 && usb_.subscriptions == 1; }));
    usb_.push(pcmBlock(7));
    ASSERT_TRUE(eventually([&] { return overseas_.connections()[0].audioFrames == 1; }));
    EXPECT_EQ(overseas_.connections()[0].appId, QStringLiteral("int-app"));
    EXPECT_TRUE(mainland_.connections().isEmpty());
}

TEST_F(EarlierDictationTest, OverseasClientPlainSessionFinishesAndCloses)
{
    overseas_.expectBusiness(businessOf("zh_cn", "cantonese", "zh-hk", 6000, false));
    overseas_.addSession(
        { 0, { Reply::result("你好", "", false, 1).afterAudioFrames(1), Reply::result("世界", "", true, 2).onLastFrame() } });
    MMAsrXunfeiWebApiServiceHaiwai client(environment(), time_, MMAudioObjectManager::sharedManager());
    begin(client, QStringLiteral("zh_cn_cantonese_traditional"));
    ASSERT_TRUE(eventually([&] { return overseas_.openCount() == 1 && usb_.subscriptions == 1; }));
    usb_.push(pcmBlock(3));
    ASSERT_TRUE(eventually([&] { return results_.size() == 1; }));
    client.endAsrBluetooth();
    ASSERT_TRUE(eventually([&] { return overseas_.connections()[0].closed; }));
    EXPECT_EQ(results_,
        (Results { { "你好", Type::NewSegment }, { "世界", Type::NewSegment }, { "你好世界", Type::SessionFinished } }));
}

TEST_F(EarlierDictationTest, OverseasClientAppendsForEnglishAndFinishesOnTheLastReply)
{
    overseas_.expectBusiness(businessOf("en_us", "mandarin", "", 6000, true));
    overseas_.addSession({ 0,
        { Reply::result("hello ", "apd", false, 1).afterAudioFrames(1),
            Reply::result("world", "apd", true, 2).onLastFrame().thenClose() } });
    MMAsrXunfeiWebApiServiceHaiwai client(environment(), time_, MMAudioObjectManager::sharedManager());
    begin(client, QStringLiteral("en_us"));
    ASSERT_TRUE(eventually([&] { return overseas_.openCount() == 1 && usb_.subscriptions == 1; }));
    usb_.push(pcmBlock(1));
    ASSERT_TRUE(eventually([&] { return results_.size() == 1; }));
    client.endAsrBluetooth();
    ASSERT_TRUE(eventually([&] { return results_.size() == 3; }));
    EXPECT_EQ(results_, (Results { { "hello ", Type::NewSegment }, { "world", Type::NewSegment },
                            { "hello world", Type::SessionFinished } }));
}

TEST_F(EarlierDictationTest, MissingCredentialsShowTheDeviceAlertAndOpenNothing)
{
    keys_.iat_appsecret.clear();
    user_.setApikeyItem(keys_);
    KWAsrXunfeiWebApiService client(environment());
    begin(client, QStringLiteral("zh_cn"));
    fakes::FakeHttpServer::waitUntil([] { return false; }, 150);
    EXPECT_EQ(client.connectionCount(), 0u);
    EXPECT_TRUE(mainland_.connections().isEmpty());
    const auto tr = LGNLocalizedString::lgnAppLocalizedString;
    ASSERT_EQ(alerts_.shown.size(), 1);
    EXPECT_EQ(alerts_.shown[0],
        (QStringList { tr(QStringLiteral("温馨提醒")), tr(QStringLiteral("因鼠标关机或休眠，未获取到设备信息，请重试。")),
            tr(QStringLiteral("确认")), tr(QStringLiteral("取消")) }));
}

TEST_F(EarlierDictationTest, ARefusingServiceIsAskedAFewTimesThenTheDictationStops)
{
    Service::Session refusing { 0, { Reply::error(10105, "illegal access").afterAudioFrames(1) } };
    for (int i = 0; i <= EarlierDictationClient::kMaxReconnectsInARow + 1; ++i)
        mainland_.addSession(refusing);
    KWAsrXunfeiWebApiService client(environment());
    begin(client, QStringLiteral("zh_cn"));
    for (int i = 0; i <= EarlierDictationClient::kMaxReconnectsInARow && failures_.isEmpty(); ++i) {
        ASSERT_TRUE(eventually([&] { return mainland_.acceptedCount() == i + 1 && usb_.subscriber; }));
        ASSERT_TRUE(eventually([&] {
            usb_.push(pcmBlock(i));
            fakes::FakeHttpServer::waitUntil([] { return false; }, 30);
            return static_cast<int>(client.connectionCount()) > i + 1 || !failures_.isEmpty();
        }));
    }
    ASSERT_TRUE(eventually([&] { return !failures_.isEmpty(); }));
    EXPECT_EQ(failures_, (QList<RecognitionFailure> { RecognitionFailure::ConnectionFailed }));
    EXPECT_EQ(client.connectionCount(), static_cast<quint64>(EarlierDictationClient::kMaxReconnectsInARow + 1));
}

TEST_F(EarlierDictationTest, TheComputersMicrophoneFeedsTheDictationInWholeBlocks)
{
    mainland_.expectBusiness(businessOf("zh_cn", "mandarin", "zh-cn", 2000, true));
    auto input = std::make_unique<fakes::FakeMicrophoneInput>();
    fakes::FakeMicrophoneInput* mic = input.get();
    MMAudioQueueCapture capture(std::move(input), nullptr);
    KWAsrXunfeiWebApiService client(environment());
    client.setAudioQueueCapture(&capture);
    begin(client, QStringLiteral("zh_cn"));
    ASSERT_TRUE(eventually([&] { return mainland_.openCount() == 1 && mic->isRunning(); }));
    mic->deliver(QByteArray(2000, 'a'));
    mic->deliver(QByteArray(1000, 'b'));
    ASSERT_TRUE(eventually([&] { return mainland_.connections()[0].audioFrames == 2; }));
    client.endAsr();
    EXPECT_FALSE(mic->isRunning());
    ASSERT_TRUE(eventually([&] { return mainland_.connections()[0].audioFrames == 3; }));
    const Service::Connection& c = mainland_.connections()[0];
    ASSERT_EQ(c.frames.size(), 3);
    for (const Service::Frame& frame : c.frames)
        EXPECT_EQ(frame.audio.size(), MMAudioQueueCapture::kBlockBytes);
    EXPECT_EQ(c.audio().left(3000), QByteArray(2000, 'a') + QByteArray(1000, 'b'));
    EXPECT_FALSE(frameStatuses(c).contains(2)); // a microphone dictation ends on the service's silence rule
}

TEST_F(EarlierDictationTest, AudioBeforeTheConnectionOpensIsSentInOrderOnceItDoes)
{
    mainland_.addSession({ 300, {} });
    KWAsrXunfeiWebApiService client(environment());
    begin(client, QStringLiteral("zh_cn"));
    // The slots are taken on open; audio through the client before that waits.
    client.sendPcmToXunfei(pcmBlock(1));
    client.sendPcmToXunfei(pcmBlock(2));
    ASSERT_TRUE(eventually([&] { return mainland_.connections().value(0).audioFrames == 2; }));
    EXPECT_EQ(mainland_.connections()[0].audio(), pcmBlock(1) + pcmBlock(2));
}

TEST_F(EarlierDictationTest, TheReadTimerWalksTheRecordingToItsEnd)
{
    MMAudioObjectManager recorder(time_, UWSanboxFileManager::sharedManager());
    recorder.beginRecordWithRecordorZhiMu(QStringLiteral("Test"));
    recorder.writePcmData(QByteArray(3000, 'x'));
    recorder.endRecord(); // the finished recording: a 44-byte header and the audio
    MMAsrXunfeiWebApiServiceHaiwai client(environment(), time_, recorder);
    client.init_readRecTimer();
    EXPECT_TRUE(client.hasReadTimer());
    time_.advance(MMAsrXunfeiWebApiServiceHaiwai::kReadInterval);
    EXPECT_EQ(client.readIndex(), static_cast<quint64>(QFile(recorder.audioFilePath()).size()));
    EXPECT_EQ(client.readIndex(), 3044u);
    client.release_readTimer();
    EXPECT_FALSE(client.hasReadTimer());
    EXPECT_EQ(time_.pendingCount(), 0u);
}

} // namespace earlier_asr_test
