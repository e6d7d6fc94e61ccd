// Holding the mouse's voice key types what was said into the focused text
// field: key tap, press classifier, orchestrator, microphone command to the
// mouse, mSBC audio decoded and streamed, frames checked by the fake
// service, results scripted back, and the text typed through the pasteboard
// and the key poster.
#include "VoiceRoadFixture.h"

#include "core/HLParamTools.h"
#include "core/LGNLocalizedString.h"
#include "fakes/FakeMachineTranslationService.h"
#include "fakes/FakeTextTranslationService.h"
#include "platform/UserNotices.h"
#include "translate/HLMachineTranslationParam.h"
#include "translate/HLMachineTranslationRequest.h"
#include "translate/mmMicrosoftTextTrans.h"

#include <QDir>
#include <QLabel>
#include <QTextEdit>

namespace voiceroad {
namespace {

using Reply = fakes::FakeDictationService::Reply;

// Frames of a connection that carried the whole dictation: 0, 1..., 2.
bool wellFormed(const fakes::FakeDictationService::Connection& connection)
{
    if (connection.frames.size() < 2 || connection.frames.first().status != 0
        || connection.frames.last().status != 2)
        return false;
    for (qsizetype i = 1; i + 1 < connection.frames.size(); ++i) {
        if (connection.frames[i].status != 1)
            return false;
    }
    return true;
}

TEST_F(VoiceRoad, MainlandDictationTypesTheFinalSentence)
{
    connectMouse(QStringLiteral("cn"));
    ASSERT_EQ(languages.TypingFromCode(), QStringLiteral("zh_cn"));
    mainlandService.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(5),
            Reply::result("今天天气", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(20),
            Reply::result("很好", "apd", true, 3).onLastFrame().thenClose() } });

    holdVoiceKey(2.0, 400);
    EXPECT_TRUE(mouse.microphoneOn());
    ASSERT_TRUE(service.speechWC());
    EXPECT_TRUE(service.speechWC()->window()->isVisible());

    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("今天天气很好"); }))
        << poster.fieldText().toStdString();
    EXPECT_FALSE(mouse.microphoneOn());
    EXPECT_TRUE(service.speechEnd());
    ASSERT_TRUE(waitFor([&] { return !service.speechWC()->window()->isVisible(); }));

    // One connection, its frames in order, the audio the mouse sent: 400
    // frames of silence decode to 240 bytes each, all streamed (none lost
    // while the socket was opening).
    ASSERT_EQ(mainlandService.connections().size(), 1);
    const auto& connection = mainlandService.connections()[0];
    EXPECT_TRUE(connection.accepted()) << connection.rejectReason.toStdString();
    EXPECT_TRUE(wellFormed(connection));
    EXPECT_EQ(connection.appId, QStringLiteral("cn-app"));
    EXPECT_EQ(connection.business.value(QStringLiteral("language")).toString(), QStringLiteral("zh_cn"));
    EXPECT_EQ(connection.audio().size(), qsizetype(400) * 240);
    EXPECT_TRUE(overseasService.connections().isEmpty());
    // The whole sentence went in one paste.
    EXPECT_EQ(pasteboard.text(), QStringLiteral("今天天气很好"));

    // The dictation was recorded.
    const QStringList wavs = QDir(home.path() + QStringLiteral("/Documents/REC"))
                                 .entryList({ QStringLiteral("PravikREC*.wav") }, QDir::Files);
    EXPECT_EQ(wavs.size(), 1);
}

TEST_F(VoiceRoad, DynamicTypingTypesSegmentsAndCorrectsThem)
{
    connectMouse(QStringLiteral("cn"));
    user.webConfig().setSec_dynamic_typing(1);
    mainlandService.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(5),
            Reply::result("今天天气", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(30),
            Reply::result("今日", "rpl", false, 3, std::pair(1, 2)).afterAudioFrames(60),
            Reply::result("很好😀", "apd", true, 4).onLastFrame().thenClose() } });

    QStringList fieldStates;
    mouse.setAudioFrames(QList<QByteArray>(300, silentFrame()));
    keyTap.press(platform::MouseKey::F19);
    for (int i = 0; i < 150; ++i) {
        run(kStep);
        if (fieldStates.isEmpty() || fieldStates.last() != poster.fieldText())
            fieldStates << poster.fieldText();
    }
    keyTap.release(platform::MouseKey::F19);
    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("今日很好😀"); }))
        << poster.fieldText().toStdString();

    // The text grew as it was recognised, before the key was released.
    EXPECT_TRUE(fieldStates.contains(QStringLiteral("今天"))) << fieldStates.join('|').toStdString();
    EXPECT_TRUE(fieldStates.contains(QStringLiteral("今天天气"))) << fieldStates.join('|').toStdString();
    // Corrections are Backspace presses, never more than the changed part:
    // "今天天气" to "今日" removes three characters.
    int backspaces = 0;
    for (const auto& press : poster.presses())
        backspaces += press.key == platform::Key::Backspace;
    EXPECT_EQ(backspaces, 3);
}

// A correction over two earlier segments: the text field must read what the
// speech window shows, each segment once.
TEST_F(VoiceRoad, DynamicTypingFollowsACorrectionOverSeveralSegments)
{
    connectMouse(QStringLiteral("cn"));
    user.webConfig().setSec_dynamic_typing(1);
    mainlandService.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(5),
            Reply::result("天气", "apd", false, 2).afterAudioFrames(20),
            Reply::result("今天天气很好", "rpl", false, 3, std::pair(1, 2)).afterAudioFrames(40),
            Reply::result("。", "apd", true, 4).onLastFrame().thenClose() } });

    holdVoiceKey(1.0, 200);
    ASSERT_TRUE(waitFor([&] { return mainlandService.connections().size() == 1
                                  && mainlandService.connections()[0].closed && !mainland.isRunning(); }));
    run(0.5); // the typing queue empties
    const QString shown = service.speechWC()->fromTextView()->toPlainText();
    EXPECT_EQ(shown, QStringLiteral("今天天气很好。"));
    EXPECT_EQ(poster.fieldText(), shown);
}

// The key pressed again right after it was released: the second dictation
// begins before the first one's end step. The first still sends its last
// frame and types the words the service returns for it.
TEST_F(VoiceRoad, AQuickSecondPressLetsTheFirstDictationFinish)
{
    connectMouse(QStringLiteral("cn"));
    mainlandService.addSession({ 0,
        { Reply::result("第一句", "apd", false, 1).afterAudioFrames(5),
            Reply::result("结尾", "apd", true, 2).onLastFrame().thenClose() } });
    mainlandService.addSession({ 0, { Reply::result("第二句", "apd", true, 1).onLastFrame().thenClose() } });

    holdVoiceKey(1.0, 200);
    run(0.05);
    holdVoiceKey(1.0, 200);
    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("第一句结尾第二句"); }))
        << poster.fieldText().toStdString();
    ASSERT_EQ(mainlandService.connections().size(), 2);
    EXPECT_TRUE(wellFormed(mainlandService.connections()[0]));
    EXPECT_TRUE(wellFormed(mainlandService.connections()[1]));
    ASSERT_TRUE(waitFor([&] { return !service.speechWC()->window()->isVisible(); }));
    EXPECT_FALSE(mouse.microphoneOn());
}

// A voice translation whose last reply comes after a typing dictation in
// another language began: the sentence is translated from the language it
// was said in.
TEST_F(VoiceRoad, AVoiceTranslationUsesTheLanguageOfItsOwnDictation)
{
    fakes::FakeMachineTranslationService translator(
        { QStringLiteral("ots-app"), QStringLiteral("ots-key"), QStringLiteral("ots-secret") });
    translator.reply(fakes::FakeMachineTranslationService::translation(QStringLiteral("你好世界")));
    actions->mainlandTranslation = [&](const QString& from, const QString& to, const QString& text,
                                       MMAudioMonitorService::Actions::TranslationDone done) {
        HLMachineTranslationParam param;
        param.business.from = from;
        param.business.to = to;
        param.data.text = HLParamTools::base64EncodeString(text);
        HLMachineTranslationRequest::getMachineTranslationWithParam(std::move(param), user, translator.baseUrl(),
            [done = std::move(done)](bool, const QString& result) { done(result); });
    };
    connectMouse(QStringLiteral("cn"));
    mmApiKeyItem keys = *user.apikeyItem();
    keys.ots_appid = translator.credentials().appId;
    keys.ots_appkey = translator.credentials().apiKey;
    keys.ots_appsecret = translator.credentials().apiSecret;
    user.setApikeyItem(keys);
    user.webConfig().setFir_trans_long(2); // the translation key's long press translates
    user.webConfig().setFir_voice_long(1); // the voice key's long press types
    languages.setTransFromCode(QStringLiteral("en_us"));
    languages.setTypingFromCode(QStringLiteral("zh_cn"));
    mainlandService.addSession({ 0,
        { Reply::result("Hello world", QString(), false, 1).afterAudioFrames(5),
            Reply::result(" again", QString(), true, 2).onLastFrame().thenClose() } });
    mainlandService.addSession({ 0, { Reply::result("好", "apd", true, 1).onLastFrame().thenClose() } });

    mouse.setAudioFrames(QList<QByteArray>(200, silentFrame()));
    keyTap.press(platform::MouseKey::F18);
    run(1.0);
    keyTap.release(platform::MouseKey::F18);
    run(0.05);
    holdVoiceKey(1.0, 200);
    ASSERT_TRUE(waitFor([&] { return translator.received().size() == 1; }));
    EXPECT_EQ(translator.received()[0].text, QStringLiteral("Hello world again"));
    EXPECT_EQ(translator.received()[0].from, QStringLiteral("en"));
    EXPECT_TRUE(translator.problems().isEmpty()) << translator.problems().join('\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return poster.fieldText().contains(QStringLiteral("好"))
                                  && poster.fieldText().contains(QStringLiteral("你好世界")); }))
        << poster.fieldText().toStdString();
}

// The mouse's keys could not be taken when the application started (the
// session refused the tap, or input access was missing): the user is told,
// and the keys work as soon as they can be taken, without a restart.
TEST_F(VoiceRoad, KeysRefusedAtStartUpWorkOnceTheyCanBeTaken)
{
    struct Case {
        const char* name;
        bool inputAccess;
        bool tapAvailable;
    };
    const Case cases[] = { { "tap refused", true, false }, { "no input access", false, true } };
    connectMouse(QStringLiteral("cn"));
    for (const Case& c : cases) {
        platform::UserNotices::shared().resetForTesting();
        fakes::FakeKeyTap session;
        KeyEventTap sessionTap { session };
        permissions.input = c.inputAccess;
        session.setAvailable(c.tapAvailable);
        auto startup = MMpermissionCheck::create({ permissions, sessionTap, classifier, user.deviceInfo() });
        startup->startupCheck(time, [this](const QString& text) { tips.showTextWithString(text); });

        ASSERT_TRUE(tips.tipTextView()) << c.name;
        EXPECT_EQ(tips.tipTextView()->text(),
            LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("系统权限未完整配置，部分功能不可用。")))
            << c.name;
        const std::vector<platform::UserNotices::Notice> notices = platform::UserNotices::shared().pending();
        ASSERT_EQ(notices.size(), 1u) << c.name;
        EXPECT_EQ(notices[0].key, MMpermissionCheck::kKeyTapNoticeKey) << c.name;
        EXPECT_EQ(notices[0].text, LGNLocalizedString::lgnAppLocalizedString(MMpermissionCheck::kKeyTapNoticeText)) << c.name;

        // Still refused a while later: the keys do nothing yet.
        const quint64 dictations = service.dictationId();
        run(2.5);
        session.press(platform::MouseKey::F19);
        run(0.5);
        session.release(platform::MouseKey::F19);
        EXPECT_EQ(service.dictationId(), dictations) << c.name;
        EXPECT_EQ(platform::UserNotices::shared().pending().size(), 1u) << c.name;

        permissions.input = true;
        session.setAvailable(true);
        run(MMpermissionCheck::kKeyTapRetryInterval + 0.1);
        ASSERT_TRUE(sessionTap.installed()) << c.name;
        mainlandService.addSession(
            { 0, { Reply::result(c.name, QString(), true, 1).onLastFrame().thenClose() } });
        poster.setFieldText(QString());
        mouse.setAudioFrames(QList<QByteArray>(100, silentFrame()));
        session.press(platform::MouseKey::F19);
        run(0.5);
        session.release(platform::MouseKey::F19);
        ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QString::fromUtf8(c.name); }))
            << c.name << ": " << poster.fieldText().toStdString();
        ASSERT_TRUE(waitFor([&] { return !mouse.microphoneOn(); })) << c.name;
    }
    platform::UserNotices::shared().resetForTesting();
}

TEST_F(VoiceRoad, OverseasDictationTypesEachSegmentOfChinese)
{
    connectMouse(QStringLiteral("us"));
    languages.setTypingFromCode(QStringLiteral("zh_cn"));
    overseasService.addSession({ 0,
        { Reply::result("你好", QString(), false, 1).afterAudioFrames(5),
            Reply::result("世界", QString(), true, 2).onLastFrame().thenClose() } });

    holdVoiceKey(1.0, 200);
    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("你好世界"); }))
        << poster.fieldText().toStdString();
    ASSERT_EQ(overseasService.connections().size(), 1);
    EXPECT_TRUE(wellFormed(overseasService.connections()[0]));
    EXPECT_EQ(overseasService.connections()[0].appId, QStringLiteral("int-app"));
    EXPECT_TRUE(mainlandService.connections().isEmpty());
}

TEST_F(VoiceRoad, OverseasEnglishIsTypedOnceTheSessionEnds)
{
    connectMouse(QStringLiteral("us"));
    ASSERT_EQ(languages.TypingFromCode(), QStringLiteral("en_us"));
    overseasService.addSession({ 0,
        { Reply::result("Hello", "apd", false, 1).afterAudioFrames(5),
            Reply::result(" world.", "apd", true, 2).onLastFrame().thenClose() } });

    holdVoiceKey(1.0, 200);
    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("Hello world."); }))
        << poster.fieldText().toStdString();
    EXPECT_EQ(pasteboard.writeCount(), 1);
}

TEST_F(VoiceRoad, VoiceTranslationTypesTheTranslationOfTheFinalSentence)
{
    fakes::FakeTextTranslationService translator(QStringLiteral("azure-key"));
    connectMouse(QStringLiteral("us"));
    translateOverseasWith(translator);
    holdVoiceKey(1.0, 200);
    expectOverseasTranslationTyped(translator);
}

} // namespace
} // namespace voiceroad
