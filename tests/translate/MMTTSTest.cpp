#include "translate/MMTTS.h"

#include "core/KWLangManager.h"
#include "fakes/FakeSpeechSynthesizer.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"

#include <gtest/gtest.h>

namespace mmttstest {

using platform::SpeechVoice;

const QList<SpeechVoice> kEngineVoices {
    { QStringLiteral("Alice"), QStringLiteral("en-GB") },
    { QStringLiteral("Bob"), QStringLiteral("en-US") },
    { QStringLiteral("Mei"), QStringLiteral("zh-CN") },
    { QStringLiteral("Lin"), QStringLiteral("zh-TW") },
    { QStringLiteral("Kenji"), QStringLiteral("ja-JP") },
};

TEST(MMTTSVoiceTest, TheVoiceOfTheLanguageAndRegionFirstThenOfTheLanguage)
{
    const struct {
        const char* identifier;
        const char* voice; // empty: none
    } cases[] = {
        { "en-US", "Bob" },
        { "en-GB", "Alice" },
        { "en-AU", "Alice" }, // the first English voice
        { "en_us", "Bob" },
        { "EN-us", "Bob" },
        { "zh-TW", "Lin" },
        { "zh-HK", "Mei" },
        { "ja-JP", "Kenji" },
        { "ja", "Kenji" },
        { "ko-KR", "" },
        { "id-ID", "" },
        { "", "" },
        { "-", "" },
    };
    for (const auto& c : cases) {
        const auto voice = MMTTS::voiceForLanguage(kEngineVoices, QString::fromLatin1(c.identifier));
        EXPECT_EQ(voice ? voice->name : QString(), QString::fromLatin1(c.voice)) << c.identifier;
    }
    EXPECT_FALSE(MMTTS::voiceForLanguage({}, QStringLiteral("en-US")));
}

class MMTTSTest : public ::testing::Test {
protected:
    MMTTSTest() { speech.setVoices(kEngineVoices); }

    // Positions in the speech-output voice list, which follows the translation list.
    static constexpr quint64 kChinese = 0, kEnglish = 2, kKorean = 4;

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [] { return QStringLiteral("us"); } };
    fakes::FakeSpeechSynthesizer speech;
    fakes::VirtualTime time;
    MMTTS tts { speech, languages, time };
};

TEST_F(MMTTSTest, CallsWithTheSameVoiceSpeakThenStopThenSpeak)
{
    languages.setIndexOcrTo(kEnglish);
    ASSERT_EQ(KWLangManager::getLanguageCodeWithLanguageList(languages.getTTSLangeArray(), kEnglish), "en-US");

    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::Spoken);
    ASSERT_EQ(speech.utterances().size(), 1);
    EXPECT_EQ(speech.utterances()[0].text, QStringLiteral("Hello"));
    EXPECT_EQ(speech.utterances()[0].voice->name, QStringLiteral("Bob"));
    EXPECT_NEAR(speech.utterances()[0].rate, 0.04, 1e-9); // 0.52 on a scale where 0.5 is normal
    EXPECT_EQ(tts.theLanguage(), QStringLiteral("en-US"));

    // The second only stops, whether or not the first has finished.
    speech.finish();
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Again")), MMTTS::Result::Stopped);
    EXPECT_EQ(speech.utterances().size(), 1);
    EXPECT_EQ(speech.stops(), QStringList { "immediate" });
    EXPECT_EQ(tts.theLanguage(), QString());

    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Third")), MMTTS::Result::Spoken);
    EXPECT_EQ(speech.utterances().size(), 2);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Fourth")), MMTTS::Result::Stopped);
    EXPECT_FALSE(speech.isSpeaking());
}

TEST_F(MMTTSTest, AnotherTargetLanguageCutsTheUtteranceAtAWordAndSpeaksAtOnce)
{
    languages.setIndexOcrTo(kEnglish);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::Spoken);
    languages.setIndexOcrTo(kChinese);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("你好")), MMTTS::Result::Spoken);
    EXPECT_EQ(speech.stops(), QStringList { "word" });
    ASSERT_EQ(speech.utterances().size(), 2);
    EXPECT_EQ(speech.utterances()[1].voice->name, QStringLiteral("Mei"));
    EXPECT_EQ(tts.theLanguage(), QStringLiteral("zh-CN"));
}

TEST_F(MMTTSTest, WithoutAVoiceOfTheLanguageTheDefaultVoiceSpeaks)
{
    languages.setIndexOcrTo(kKorean);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("안녕")), MMTTS::Result::Spoken);
    ASSERT_EQ(speech.utterances().size(), 1);
    EXPECT_EQ(speech.utterances()[0].text, QStringLiteral("안녕"));
    EXPECT_FALSE(speech.utterances()[0].voice) << "the engine's default voice";
    EXPECT_FALSE(tts.voice());
    EXPECT_EQ(tts.theLanguage(), QStringLiteral("ko-KR"));
    // The pair still alternates.
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("안녕")), MMTTS::Result::Stopped);

    // Only a session without any engine cannot speak.
    speech.setAvailable(false);
    languages.setIndexOcrTo(kEnglish);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::NotAvailable);
    EXPECT_EQ(speech.utterances().size(), 1);
}

TEST_F(MMTTSTest, AnUtteranceIsFollowedByAOneSecondPause)
{
    languages.setIndexOcrTo(kEnglish);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::Spoken);
    speech.finish();
    // Within the pause speech still runs: another language first stops it.
    time.advance(0.99);
    EXPECT_TRUE(tts.isSpeaking());
    languages.setIndexOcrTo(kChinese);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("你好")), MMTTS::Result::Spoken);
    EXPECT_EQ(speech.stops(), QStringList { "word" });

    // After the pause nothing runs, and nothing is stopped before the next.
    speech.finish();
    time.advance(MMTTS::kPauseSeconds);
    EXPECT_FALSE(tts.isSpeaking());
    languages.setIndexOcrTo(kEnglish);
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::Spoken);
    EXPECT_EQ(speech.stops(), QStringList { "word" });

    // A stop ends the pause with the utterance.
    speech.finish();
    EXPECT_EQ(tts.ttsWithText(QStringLiteral("Hello")), MMTTS::Result::Stopped);
    EXPECT_FALSE(tts.isSpeaking());
}

} // namespace mmttstest
