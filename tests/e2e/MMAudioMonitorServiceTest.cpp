// The voice-key orchestrator's decisions: what each press does, how results
// are routed by region, language, dynamic typing and result type, and that
// the delayed steps of one dictation never act on another.
#include "VoiceRoadFixture.h"

#include "core/LGNLocalizedString.h"
#include "device/UWHidHelper.h"
#include "voice/mmSpeechViewWC.h"

#include <QLabel>
#include <QTextEdit>

namespace voiceroad {
namespace {

using Type = RecognitionResultType;

// A dictation without the outside world: the device counts as connected,
// the services as unreachable; results are handed to the service directly.
class Orchestrator : public VoiceRoad {
protected:
    void pretendConnected(const QString& country)
    {
        user.deviceInfo().setDeviceConnectionMode(2);
        user.setIpCountry(country);
    }
    QString windowText() const { return service.speechWC()->fromTextView()->toPlainText(); }
    QString windowLabel() const { return service.speechWC()->languageLabel()->text(); }
    void typeAll() { run(0.1); }
};

TEST_F(Orchestrator, LongPressWithoutDeviceOnlyAsksForTheDeviceInformation)
{
    mouse.ignoreDeviceInfoRequests(1000); // the mouse sleeps: the receiver opens, nothing answers
    watcher->attach(receiver());
    ASSERT_TRUE(link.hidConnected());
    run(0.1);
    const size_t writes = mouse.writes().size();

    service.usePressType(PressTypeVoiceTypingBegin);
    EXPECT_EQ(service.speechWC(), nullptr);
    EXPECT_EQ(service.dictationId(), 0u);
    EXPECT_FALSE(mouse.microphoneOn());
    ASSERT_GT(mouse.writes().size(), writes);
    EXPECT_EQ(mouse.writes().back(), UWHidHelper::hidGetDeviceInfoReport());
}

struct RouteCase {
    const char* name;
    const char* country;
    const char* language;
    bool dynamic;
    QList<RecognitionResult> results;
    const char* typed;
};

class OrchestratorRoutes : public Orchestrator, public ::testing::WithParamInterface<RouteCase> { };

TEST_P(OrchestratorRoutes, ResultsAreTypedByRegionLanguageAndType)
{
    const RouteCase& c = GetParam();
    pretendConnected(QString::fromUtf8(c.country));
    languages.setTypingFromCode(QString::fromUtf8(c.language));
    user.webConfig().setSec_dynamic_typing(c.dynamic ? 1 : 0);
    service.usePressType(PressTypeVoiceTypingBegin);
    ASSERT_EQ(service.theAsrLanguage(), QString::fromUtf8(c.language));

    for (const RecognitionResult& result : c.results)
        service.processingRecognitionResults(result.text, result.type);
    typeAll();
    EXPECT_EQ(poster.fieldText(), QString::fromUtf8(c.typed));
}

INSTANTIATE_TEST_SUITE_P(Table, OrchestratorRoutes,
    ::testing::Values(
        RouteCase { "MainlandTypesTheFinalSentenceOnly", "cn", "zh_cn", false,
            { { "今天", Type::NewSegment }, { "今天", Type::RunningText }, { "今天好", Type::SessionFinished } },
            "今天好" },
        RouteCase { "OverseasChineseTypesEachSegment", "us", "zh_cn", false,
            { { "你好", Type::NewSegment }, { "世界", Type::NewSegment }, { "你好世界", Type::SessionFinished } },
            "你好世界" },
        RouteCase { "OverseasEnglishTypesTheFinalSentence", "us", "en_us", false,
            { { "Hi", Type::NewSegment }, { "Hi there", Type::SessionFinished } }, "Hi there" },
        RouteCase { "MissingRegionCountsAsOverseas", "", "zh_cn", false,
            { { "好", Type::NewSegment }, { "好", Type::SessionFinished } }, "好" },
        RouteCase { "DynamicTypingAppendsAndCorrects", "cn", "zh_cn", true,
            { { "今天", Type::NewSegment }, { "今日", Type::Corrected }, { "好", Type::NewSegment },
                { "今日好", Type::SessionFinished }, { "今日好", Type::RunningText } },
            "今日好" },
        RouteCase { "DynamicCorrectionNeverSplitsAnEmoji", "cn", "zh_cn", true,
            { { "好👍🏽", Type::NewSegment }, { "好👍🏽", Type::RunningText }, { "好👍", Type::Corrected },
                { "好👍", Type::RunningText } },
            "好👍" },
        // A correction that replaces two earlier segments: the typed text
        // follows the running text, never the last segment alone.
        RouteCase { "DynamicCorrectionOverSeveralSegments", "cn", "zh_cn", true,
            { { "今天", Type::NewSegment }, { "今天", Type::RunningText }, { "天气", Type::NewSegment },
                { "今天天气", Type::RunningText }, { "今天天气很好", Type::Corrected },
                { "今天天气很好", Type::RunningText }, { "。", Type::NewSegment },
                { "今天天气很好。", Type::RunningText }, { "今天天气很好。", Type::SessionFinished },
                { "今天天气很好。", Type::RunningText } },
            "今天天气很好。" },
        // A dictation that goes on after the service ended a session types
        // the next session's text after the first one's.
        RouteCase { "DynamicTypingCarriesOnInTheNextSession", "cn", "zh_cn", true,
            { { "你好", Type::NewSegment }, { "你好", Type::RunningText }, { "你好", Type::SessionFinished },
                { "你好", Type::RunningText }, { "世界", Type::NewSegment }, { "世界", Type::RunningText },
                { "世间", Type::Corrected }, { "世间", Type::RunningText } },
            "你好世间" },
        RouteCase { "RunningTextIsNeverTyped", "cn", "zh_cn", false, { { "今天", Type::RunningText } }, "" }),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

TEST_F(Orchestrator, TheSpeechWindowShowsRunningTextInTheMainland)
{
    pretendConnected(QStringLiteral("cn"));
    languages.setTypingFromName(QStringLiteral("中文"));
    service.usePressType(PressTypeVoiceTypingBegin);
    ASSERT_TRUE(service.speechWC());
    EXPECT_EQ(windowLabel(), LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("语音打字")) + QStringLiteral(": 中文"));
    service.processingRecognitionResults(QStringLiteral("今"), Type::NewSegment);
    EXPECT_NE(windowText(), QStringLiteral("今")); // segments are not shown in the mainland
    service.processingRecognitionResults(QStringLiteral("今天"), Type::RunningText);
    EXPECT_EQ(windowText(), QStringLiteral("今天"));
    service.processingRecognitionResults(QString(), Type::RunningText);
    EXPECT_EQ(windowText(), QStringLiteral("今天"));
}

TEST_F(Orchestrator, TheEndSequenceRunsAfterItsDelayAndClosesTheWindow)
{
    pretendConnected(QStringLiteral("cn"));
    service.usePressType(PressTypeVoiceTypingBegin);
    ASSERT_FALSE(service.speechEnd());
    service.usePressType(PressTypeVoiceTypingEnd);
    run(0.2);
    EXPECT_FALSE(service.speechEnd());
    run(0.2);
    EXPECT_TRUE(service.speechEnd());
    EXPECT_TRUE(service.speechWC()->window()->isVisible());
    run(0.5);
    EXPECT_FALSE(service.speechWC()->window()->isVisible());

    // Without a device, a further end request is ignored once the dictation ended.
    user.deviceInfo().setDeviceConnectionMode(0);
    const quint64 pending = quint64(time.pendingCount());
    service.usePressType(PressTypeVoiceTypingEnd);
    EXPECT_EQ(quint64(time.pendingCount()), pending);
}

TEST_F(Orchestrator, ALateEndStepDoesNotStopTheNextDictation)
{
    pretendConnected(QStringLiteral("cn"));
    service.usePressType(PressTypeVoiceTypingBegin);
    service.usePressType(PressTypeVoiceTypingEnd);
    run(0.1);
    service.usePressType(PressTypeVoiceTypingBegin); // pressed again before the end step ran
    const quint64 second = service.dictationId();
    run(1.0);
    EXPECT_EQ(service.dictationId(), second);
    EXPECT_FALSE(service.speechEnd());
    EXPECT_TRUE(service.speechWC()->window()->isVisible());
}

TEST_F(Orchestrator, MissingCredentialsAreShownAndTheWindowReturnsOnlyWhileTheDictationRuns)
{
    pretendConnected(QStringLiteral("cn")); // no credentials at all
    const QString missing = LGNLocalizedString::lgnAppLocalizedString(QStringLiteral(" apikey 不存在 "));
    service.usePressType(PressTypeVoiceTypingBegin);
    EXPECT_EQ(windowText(), missing);
    run(3.1);
    EXPECT_EQ(windowText(), QStringLiteral("...")); // the window is back for the running dictation

    service.usePressType(PressTypeVoiceTypingEnd);
    run(1.0);
    ASSERT_FALSE(service.speechWC()->window()->isVisible());
    service.usePressType(PressTypeVoiceTypingBegin);
    service.usePressType(PressTypeVoiceTypingEnd);
    run(5.0); // the re-show of that short dictation finds it ended
    EXPECT_FALSE(service.speechWC()->window()->isVisible());
}

TEST_F(Orchestrator, ADisconnectDuringADictationEndsIt)
{
    pretendConnected(QStringLiteral("cn"));
    service.usePressType(PressTypeVoiceTypingBegin);
    user.deviceInfo().setDeviceConnectionMode(0);
    center.post(notifications::kHadReloadConnectImage, QVariantMap { { QStringLiteral("mode"), 0 } });
    run(1.0);
    EXPECT_TRUE(service.speechEnd());
    EXPECT_FALSE(service.speechWC()->window()->isVisible());
}

TEST_F(Orchestrator, TranslationSearchAndAiRouteOnlyTheFinalSentence)
{
    pretendConnected(QStringLiteral("us"));
    languages.setTransFromCode(QStringLiteral("en_us"));
    languages.setIndexTransTo(1);
    QStringList translations;
    actions->overseasTranslation = [&](const QString& from, const QString& to, const QString& text,
                                       MMAudioMonitorService::Actions::TextTranslationDone done) {
        translations << from + QLatin1Char('>') + to + QLatin1Char(':') + text;
        done(true, QStringLiteral("Bonjour"));
    };
    QStringList opened;
    actions->openTarget = [&](const QString& path, const QString& type) { opened << type + QLatin1Char('|') + path; };
    QStringList notes;
    auto observer = center.addObserver({}, [&](const platform::Notification& n) {
        notes << n.name + QLatin1Char(' ') + n.object.toMap().value(QStringLiteral("text")).toString();
    });

    service.usePressType(PressTypeVoiceTranslationBegin);
    service.processingRecognitionResults(QStringLiteral("Hello"), Type::NewSegment);
    service.processingRecognitionResults(QStringLiteral("Hello"), Type::SessionFinished);
    typeAll();
    ASSERT_EQ(translations.size(), 1);
    EXPECT_TRUE(translations[0].endsWith(QStringLiteral(":Hello")));
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Bonjour"));

    service.usePressType(PressTypeVoiceSearchBegin);
    service.processingRecognitionResults(QStringLiteral("cats & dogs."), Type::SessionFinished);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QStringLiteral("|") + MMAudioMonitorService::searchPrefixForEngine(user.webConfig().sec_searchEngine())
            + QStringLiteral("cats%20%26%20dogs"));

    notes.clear();
    service.usePressType(PressTypeAiVoiceBegin);
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_EQ(notes.first(), notifications::kHadOpenGPT + QLatin1Char(' ')); // opened before recognition
    service.processingRecognitionResults(QStringLiteral("Question"), Type::RunningText);
    service.processingRecognitionResults(QStringLiteral("Question?"), Type::SessionFinished);
    EXPECT_EQ(notes.last(), notifications::kHadGPTSpeechText + QStringLiteral(" Question?"));
    EXPECT_EQ(poster.fieldText(), QStringLiteral("Bonjour")); // nothing of those typed
}

TEST_F(Orchestrator, VoiceSearchPrefersCustomCommandsThenApplications)
{
    pretendConnected(QStringLiteral("us"));
    MMCustomCmdItem command;
    command.setWord(QStringLiteral("open mail"));
    command.setTodo(QStringLiteral("https://mail.example.org/"));
    MMAppdataItem application;
    application.setCmdword(QStringLiteral("Text Editor")); // blanks in the command word too
    application.setPath(QStringLiteral("/usr/share/applications/org.example.Editor.desktop"));
    actions->customCommands = [&] { return QList<MMCustomCmdItem> { command }; };
    actions->applications = [&] { return QList<MMAppdataItem> { application }; };
    QStringList opened;
    actions->openTarget = [&](const QString& path, const QString& type) { opened << type + QLatin1Char('|') + path; };

    struct Case {
        const char* said;
        QString expected;
    } cases[] = {
        { "Open Mail.", QStringLiteral("|https://mail.example.org/") },
        { "Text Editor.", QStringLiteral("file|/usr/share/applications/org.example.Editor.desktop") },
        { "openmail", QStringLiteral("|") + MMAudioMonitorService::searchPrefixForEngine(0) + QStringLiteral("openmail") },
    };
    user.webConfig().setSec_searchEngine(0);
    for (const Case& c : cases) {
        opened.clear();
        service.usePressType(PressTypeVoiceSearchBegin);
        service.processingRecognitionResults(QString::fromUtf8(c.said), Type::SessionFinished);
        EXPECT_EQ(opened, QStringList { c.expected }) << c.said;
    }
}

TEST_F(Orchestrator, ClickFunctionsPressKeysPostNotificationsOrShowTheWindow)
{
    QStringList notes;
    auto observer = center.addObserver({}, [&](const platform::Notification& n) { notes << n.name; });
    struct Case {
        quint64 function;
        std::optional<platform::Key> key;
        bool command;
        QString note;
        int windows;
    } cases[] = {
        { 1, platform::Key::Return, false, {}, 0 },
        { 2, platform::Key::Backspace, false, {}, 0 },
        { 3, platform::Key::C, true, {}, 0 },
        { 4, platform::Key::V, true, {}, 0 },
        { 5, std::nullopt, false, notifications::kHadSnipTrans, 0 },
        { 6, std::nullopt, false, {}, 1 },
        { 7, std::nullopt, false, notifications::kHadOpenGPT, 0 },
        { 8, platform::Key::PageUp, false, {}, 0 },
        { 9, platform::Key::PageDown, false, {}, 0 },
        { 0, std::nullopt, false, {}, 0 },
    };
    for (const Case& c : cases) {
        user.webConfig().setFir_trans_short(c.function);
        const size_t presses = poster.presses().size();
        notes.clear();
        mainWindowShown = 0;
        service.usePressType(PressTypeTranslationClick);
        const auto& all = poster.presses();
        EXPECT_EQ(all.size(), presses + (c.key ? 1 : 0)) << c.function;
        if (c.key && all.size() == presses + 1) {
            EXPECT_EQ(all.back().key, *c.key) << c.function;
            EXPECT_EQ(bool(all.back().modifiers & platform::Modifier::Command), c.command) << c.function;
        }
        EXPECT_EQ(notes, c.note.isEmpty() ? QStringList() : QStringList { c.note }) << c.function;
        EXPECT_EQ(mainWindowShown, c.windows) << c.function;
    }
}

TEST_F(Orchestrator, DoubleClickSwitchesTheVoiceKeysLongPressFunction)
{
    const auto tr = [](const char* key) { return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key)); };
    struct Case {
        quint64 before, after;
        const char* name;
    } cases[] = { { 1, 2, "语音翻译" }, { 2, 1, "语音打字" }, { 3, 1, "语音打字" }, { 4, 1, "语音打字" } };
    for (const Case& c : cases) {
        user.webConfig().setFir_voice_long(c.before);
        service.usePressType(PressTypeVoiceDoubleClick);
        EXPECT_EQ(user.webConfig().fir_voice_long(), c.after);
        ASSERT_TRUE(tips.tipTextView());
        EXPECT_EQ(tips.tipTextView()->text(), tr("语音键功能") + QStringLiteral(": ") + tr(c.name));
    }
}

// The dictation window and the voice key's tip change language with the
// interface while they are shown: the mode, the language (named after its
// code, not by the name stored in the language of the day it was chosen) and
// a failure message.
TEST_F(Orchestrator, TheSpeechWindowAndTheTipFollowALanguageChange)
{
    KWLangManager& shared = KWLangManager::sharedManager();
    const quint64 before = shared.indexOfUI();
    const auto changeLanguage = [&](quint64 index) {
        shared.setIndexOfUI(index);
        center.post(notifications::kHadChangeUILanguage);
    };
    changeLanguage(0);
    pretendConnected(QStringLiteral("cn")); // without credentials: the window tells so
    languages.setTypingFromCode(QStringLiteral("zh_cn"));
    languages.setTypingFromName(QStringLiteral("Mandarin"));
    service.usePressType(PressTypeVoiceTypingBegin);
    ASSERT_TRUE(service.speechWC());
    EXPECT_EQ(windowLabel(), QStringLiteral("语音打字: 普通话"));
    EXPECT_EQ(windowText(), QStringLiteral(" apikey 不存在 "));
    user.webConfig().setFir_voice_long(1);
    service.usePressType(PressTypeVoiceDoubleClick);
    ASSERT_TRUE(tips.tipTextView());
    EXPECT_EQ(tips.tipTextView()->text(), QStringLiteral("语音键功能: 语音翻译"));

    changeLanguage(1);
    EXPECT_EQ(windowLabel(), QStringLiteral("Voice Typing: Mandarin"));
    EXPECT_EQ(windowText(), QStringLiteral(" API key missing "));
    EXPECT_EQ(tips.tipTextView()->text(), QStringLiteral("Voice key function: Voice Translation"));
    changeLanguage(4);
    EXPECT_EQ(windowLabel(), QStringLiteral("음성 입력: 표준 중국어"));

    // Recognised words stay as they were spoken.
    service.processingRecognitionResults(QStringLiteral("今天"), Type::RunningText);
    changeLanguage(1);
    EXPECT_EQ(windowText(), QStringLiteral("今天"));
    shared.setIndexOfUI(before);
}

TEST_F(Orchestrator, HandsFreeDictationRunsUntilAnotherPress)
{
    user.webConfig().setFir_voice_short(10);
    service.usePressType(PressTypeVoiceClick); // no device: nothing starts, and hands-free stays off
    EXPECT_FALSE(service.LongRecording());
    EXPECT_FALSE(service.shortVoiceTyping());

    pretendConnected(QStringLiteral("cn"));
    service.usePressType(PressTypeVoiceClick);
    EXPECT_TRUE(service.LongRecording());
    EXPECT_EQ(service.thePressType(), quint64(PressTypeHandsFreeOn));
    EXPECT_FALSE(service.speechEnd());
    service.processingRecognitionResults(QStringLiteral("你好"), Type::SessionFinished);

    service.usePressType(PressTypeAiClick); // any other press ends it and does nothing else
    EXPECT_FALSE(service.LongRecording());
    run(0.4);
    EXPECT_TRUE(service.speechEnd());
    typeAll();
    EXPECT_EQ(poster.fieldText(), QStringLiteral("你好"));

    service.usePressType(PressTypeVoiceClick); // on again, then the voice key's click ends it
    EXPECT_TRUE(service.LongRecording());
    service.usePressType(PressTypeVoiceClick);
    EXPECT_FALSE(service.LongRecording());
    EXPECT_EQ(service.thePressType(), quint64(PressTypeHandsFreeOff));
}

} // namespace
} // namespace voiceroad
