#include "core/MMwebconfig.h"
#include "device/MMHidManager.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr quint16 kVoice = MMHidManager::kVoiceKey;
constexpr quint16 kTrans = MMHidManager::kTranslationKey;
constexpr quint16 kAi = MMHidManager::kAiKey;

// A press code and when it arrived, in milliseconds after the test began.
using Emitted = std::pair<int, quint64>;

class PressClassifierTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMwebconfig config { prefs };
    fakes::VirtualTime time;
    double start = time.monotonic();
    std::unique_ptr<MMHidManager> classifier;
    std::vector<Emitted> codes;

    void SetUp() override
    {
        config.setFir_voice_long(1);
        config.setFir_trans_long(2);
        config.setFir_ai_long(4);
        fresh();
    }

    // A new classifier; times count from now.
    void fresh()
    {
        classifier = std::make_unique<MMHidManager>(config, time, time);
        classifier->mousebeginAudioCallback([this](quint64 code) {
            codes.emplace_back(int(std::lround((time.monotonic() - start) * 1000)), code);
        });
        codes.clear();
        start = time.monotonic();
    }

    // Moves virtual time to the given moment (ms after the start).
    void at(int ms) { time.advance(start + ms / 1000.0 - time.monotonic()); }
    void down(quint16 key, int ms)
    {
        at(ms);
        classifier->getKeyCode(key, MMHidManager::kKeyDown);
    }
    void up(quint16 key, int ms)
    {
        at(ms);
        classifier->getKeyCode(key, MMHidManager::kKeyUp);
    }
    void click(quint16 key, int ms)
    {
        down(key, ms);
        up(key, ms + 50);
    }
    void settle() { time.advance(5); }
};

struct LongPressCase {
    quint16 key;
    quint64 function;
    quint64 begin;
    quint64 end;
};

TEST_F(PressClassifierTest, LongPressReportsTheKeysLongPressFunction)
{
    const LongPressCase cases[] = {
        { kVoice, 1, 801012, 801013 },
        { kVoice, 2, 791012, 791013 },
        { kVoice, 3, 901012, 901013 },
        { kVoice, 4, 901014, 901015 },
        { kVoice, 0, 0, 0 },
        { kVoice, 5, 0, 0 },
        { kTrans, 1, 801012, 801013 }, // the translation key doing voice typing
        { kTrans, 2, 791012, 791013 },
        { kAi, 3, 901012, 901013 },
        { kAi, 4, 901014, 901015 },
    };
    int t = 0;
    for (const LongPressCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " function " << c.function);
        config.setFir_voice_long(c.function);
        config.setFir_trans_long(c.function);
        config.setFir_ai_long(c.function);
        codes.clear();
        down(c.key, t);
        at(t + 199);
        EXPECT_TRUE(codes.empty());
        up(c.key, t + 1000);
        settle();
        EXPECT_EQ(codes, (std::vector<Emitted> { { t + 200, c.begin }, { t + 1000, c.end } }));
        t += 10000;
    }
}

TEST_F(PressClassifierTest, ReleaseAtExactlyTheThresholdIsALongPress)
{
    down(kVoice, 0);
    up(kVoice, 200);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 200, 801012 }, { 200, 801013 } }));
}

TEST_F(PressClassifierTest, ClickOfEachKeyArrivesAfterTheConfirmationWait)
{
    const std::pair<quint16, quint64> cases[] = { { kVoice, 801010 }, { kTrans, 791010 }, { kAi, 901010 } };
    int t = 0;
    for (const auto& [key, code] : cases) {
        codes.clear();
        down(key, t);
        up(key, t + 100);
        at(t + 499);
        EXPECT_TRUE(codes.empty());
        settle();
        EXPECT_EQ(codes, (std::vector<Emitted> { { t + 500, code } })) << key;
        t += 10000;
    }
}

TEST_F(PressClassifierTest, DoubleClicks)
{
    struct Case {
        const char* name;
        quint16 key;
        std::vector<int> clicks; // press moments; each release follows 50 ms later
        std::vector<Emitted> expected;
    };
    const Case cases[] = {
        { "voice key twice 250 ms apart", kVoice, { 0, 250 }, { { 300, 801011 } } },
        // The third release is compared with the second.
        { "voice key three times", kVoice, { 0, 250, 500 }, { { 300, 801011 }, { 550, 801011 } } },
        { "AI key twice: no code at all", kAi, { 0, 250 }, {} },
        { "translation key twice: no code at all", kTrans, { 0, 250 }, {} },
        { "releases 399 ms apart still pair", kVoice, { 0, 399 }, { { 449, 801011 } } },
        { "releases 400 ms apart are two clicks", kVoice, { 0, 400 }, { { 450, 801010 }, { 850, 801010 } } },
        { "two presses 0.5 s apart", kVoice, { 0, 500 }, { { 450, 801010 }, { 950, 801010 } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        for (int moment : c.clicks)
            click(c.key, moment);
        settle();
        EXPECT_EQ(codes, c.expected);
    }
}

TEST_F(PressClassifierTest, LongPressDoesNotCountAsTheFirstHalfOfADoubleClick)
{
    click(kVoice, 0); // released at 50
    down(kVoice, 100);
    up(kVoice, 600); // a long press
    click(kVoice, 650); // 250 ms after the long press, 650 ms after the last short release
    settle();
    EXPECT_EQ(codes,
        (std::vector<Emitted> { { 300, 801012 }, { 450, 801010 }, { 600, 801013 }, { 1100, 801010 } }));
}

TEST_F(PressClassifierTest, KeyUpWithoutKeyDownReportsNothing)
{
    // For example a key already held when the tap started.
    up(kVoice, 0);
    up(kAi, 10);
    settle();
    EXPECT_TRUE(codes.empty());
    // The key works normally afterwards.
    click(kVoice, 6000);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 6450, 801010 } }));
}

TEST_F(PressClassifierTest, RepeatedKeyDownWhileHeldChangesNothing)
{
    down(kVoice, 0);
    down(kVoice, 150);
    down(kVoice, 300);
    up(kVoice, 800);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 200, 801012 }, { 800, 801013 } }));
}

TEST_F(PressClassifierTest, OverlappingLongPressesOfTwoKeysAreTrackedApart)
{
    down(kVoice, 0);
    down(kAi, 100); // before the voice key's long press began
    up(kAi, 700);
    up(kVoice, 900);
    settle();
    EXPECT_EQ(
        codes, (std::vector<Emitted> { { 200, 801012 }, { 300, 901014 }, { 700, 901015 }, { 900, 801013 } }));
}

TEST_F(PressClassifierTest, ClicksOfTwoKeysCloseTogetherAreTwoClicks)
{
    click(kVoice, 0);
    click(kTrans, 150);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 450, 801010 }, { 600, 791010 } }));
}

TEST_F(PressClassifierTest, ShortPressOfOneKeyDuringALongPressOfAnother)
{
    down(kVoice, 0);
    click(kTrans, 300);
    up(kVoice, 1000);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 200, 801012 }, { 750, 791010 }, { 1000, 801013 } }));
}

TEST_F(PressClassifierTest, LongPressEndsWithTheFunctionItBeganWith)
{
    down(kVoice, 0);
    at(500);
    config.setFir_voice_long(2); // changed in the settings while the key is held
    up(kVoice, 1000);
    settle();
    EXPECT_EQ(codes, (std::vector<Emitted> { { 200, 801012 }, { 1000, 801013 } }));
}

TEST_F(PressClassifierTest, LaterConsumerReplacesTheEarlierOne)
{
    std::vector<quint64> second;
    classifier->mousebeginAudioCallback([&](quint64 code) { second.push_back(code); });
    click(kVoice, 0);
    settle();
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(second, (std::vector<quint64> { 801010 }));
}

TEST_F(PressClassifierTest, NothingFiresAfterTheClassifierIsGone)
{
    down(kVoice, 0);
    click(kAi, 10);
    classifier.reset();
    EXPECT_EQ(time.pendingCount(), 0u);
    settle();
    EXPECT_TRUE(codes.empty());
}

TEST_F(PressClassifierTest, OtherKeysAndEventTypesAreIgnored)
{
    classifier->getKeyCode(64, MMHidManager::kKeyDown); // F17
    classifier->getKeyCode(64, MMHidManager::kKeyUp);
    classifier->getKeyCode(kVoice, 12); // a modifier change
    settle();
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(time.pendingCount(), 0u);
}

// The clock may say the window has passed a moment before the timer of the
// first click has run; that click is then reported at once, not dropped.
TEST(PressClassifierTimerRace, ClickDueAtTheNextReleaseIsNotLost)
{
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMwebconfig config { prefs };
    fakes::VirtualTime timers, clock;
    MMHidManager classifier { config, timers, clock };
    std::vector<quint64> codes;
    classifier.mousebeginAudioCallback([&](quint64 code) { codes.push_back(code); });

    classifier.getKeyCode(kVoice, MMHidManager::kKeyDown);
    classifier.getKeyCode(kVoice, MMHidManager::kKeyUp);
    clock.advance(0.4); // the timers lag behind
    classifier.getKeyCode(kVoice, MMHidManager::kKeyDown);
    classifier.getKeyCode(kVoice, MMHidManager::kKeyUp);
    EXPECT_EQ(codes, (std::vector<quint64> { 801010 }));
    timers.advance(1);
    EXPECT_EQ(codes, (std::vector<quint64> { 801010, 801010 }));
}

TEST(PressTypeConversion, FunctionAndEventTypeGiveTheCode)
{
    struct Case {
        quint32 type;
        quint64 function;
        quint64 code;
    };
    const Case cases[] = {
        { 10, 1, 801012 },
        { 11, 1, 801013 },
        { 10, 2, 791012 },
        { 11, 2, 791013 },
        { 10, 3, 901012 },
        { 11, 3, 901013 },
        { 10, 4, 901014 },
        { 11, 4, 901015 },
        { 12, 4, 901015 },
        { 10, 0, 0 },
        { 11, 0, 0 },
        { 10, 5, 0 },
        { 11, 99, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            MMHidManager::KeyValueConversionToLongPressFunctionWithEventType(c.type, c.function), c.code)
            << "type " << c.type << " function " << c.function;
}

} // namespace
