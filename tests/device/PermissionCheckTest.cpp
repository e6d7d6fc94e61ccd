#include "core/KWLangManager.h"
#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePermissions.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"

#include <QStringList>

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

using platform::KeyAction;
using platform::MouseKey;
using Event = std::pair<quint16, quint32>; // key code, event type

constexpr quint32 kDown = MMHidManager::kKeyDown;
constexpr quint32 kUp = MMHidManager::kKeyUp;

// Records what reaches the classifier instead of classifying it.
class RecordingClassifier final : public MMHidManager {
public:
    using MMHidManager::MMHidManager;
    void getKeyCode(quint16 keyCode, quint32 eventType) override { events.emplace_back(keyCode, eventType); }
    std::vector<Event> events;
};

class PermissionCheckTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMwebconfig config { prefs };
    fakes::VirtualTime time;
    RecordingClassifier classifier { config, time, time };
    fakes::FakePermissions permissions;
    fakes::FakeKeyTap keys;
    KeyEventTap tap { keys };
    MMDeviceInfo device;

    std::shared_ptr<MMpermissionCheck> checker()
    {
        return MMpermissionCheck::create({ permissions, tap, classifier, device });
    }
};

TEST_F(PermissionCheckTest, CheckRunsTheThreeProbesInOrderAndReportsEach)
{
    struct Case {
        bool input, screen, bluetooth;
    };
    const Case cases[]
        = { { true, true, true }, { false, true, false }, { true, false, true }, { false, false, false } };
    for (const Case& c : cases) {
        permissions.input = c.input;
        permissions.screen = c.screen;
        permissions.bluetooth = c.bluetooth;
        auto check = checker();
        EXPECT_FALSE(check->permissionOfAccessibility()); // false until run
        std::vector<std::pair<bool, bool>> calls; // result, and whether the matching flag was already set
        int n = 0;
        check->permissionCheckCallback([&](bool granted) {
            const bool flags[] = { check->permissionOfAccessibility(), check->permissionOfcScreen(),
                check->permissionOfBluetooth() };
            calls.emplace_back(granted, flags[n++ % 3]);
        });
        EXPECT_EQ(calls,
            (std::vector<std::pair<bool, bool>> {
                { c.input, c.input }, { c.screen, c.screen }, { c.bluetooth, c.bluetooth } }));
        EXPECT_EQ(check->permissionOfAccessibility(), c.input);
        EXPECT_EQ(check->permissionOfcScreen(), c.screen);
        EXPECT_EQ(check->permissionOfBluetooth(), c.bluetooth);
    }
}

TEST_F(PermissionCheckTest, SingleProbesWorkWithoutAHandler)
{
    permissions.screen = false;
    auto check = checker();
    EXPECT_FALSE(check->canRecordScreen());
    EXPECT_TRUE(check->checkBluetoothPermission());
    EXPECT_FALSE(tap.installed());
    EXPECT_TRUE(check->canSystemAccessibility());
    EXPECT_TRUE(tap.installed());
}

TEST_F(PermissionCheckTest, TapIsInstalledOnceWhenInputAccessArrives)
{
    permissions.input = false;
    auto start = checker();
    start->permissionCheckCallback({});
    EXPECT_EQ(keys.startCount(), 0);
    keys.press(MouseKey::F19); // reaches the focused application instead
    EXPECT_TRUE(classifier.events.empty());

    // The guide window polls until access is granted, then goes on polling.
    std::vector<std::shared_ptr<MMpermissionCheck>> polls;
    for (int tick = 0; tick < 5; ++tick) {
        permissions.input = tick >= 2;
        polls.push_back(checker());
        polls.back()->permissionCheckCallback([](bool) {});
    }
    EXPECT_EQ(keys.startCount(), 1);
    EXPECT_TRUE(tap.installed());
    keys.press(MouseKey::F19);
    EXPECT_EQ(classifier.events, (std::vector<Event> { { 80, kDown } }));
}

// The mouse's keys were dead at start-up, by a refused tap or by missing
// input access: every later check tries again and tells the user, until the
// tap runs; from then on the keys reach the classifier and nobody is told.
TEST_F(PermissionCheckTest, KeysThatCannotBeTakenAreTriedAgainAtEachCheck)
{
    struct Case {
        const char* name;
        bool input; // input access at the first checks
        bool tapAvailable; // the session takes the keys at the first checks
        int refusedStarts; // start() calls before access and tap are both there
    };
    const Case cases[] = {
        { "tap refused", true, false, 2 },
        { "no input access", false, true, 0 },
        { "neither", false, false, 0 },
    };
    for (const Case& c : cases) {
        fakes::FakeKeyTap session;
        KeyEventTap sessionTap { session };
        classifier.events.clear();
        platform::UserNotices::shared().resetForTesting();
        permissions.input = c.input;
        session.setAvailable(c.tapAvailable);
        auto check = MMpermissionCheck::create({ permissions, sessionTap, classifier, device });

        check->permissionCheckCallback({});
        check->permissionCheckCallback({});
        EXPECT_FALSE(sessionTap.installed()) << c.name;
        EXPECT_FALSE(check->keysTaken()) << c.name;
        EXPECT_EQ(session.startCount(), c.refusedStarts) << c.name;
        EXPECT_TRUE(platform::UserNotices::shared().wasPosted(MMpermissionCheck::kKeyTapNoticeKey)) << c.name;
        EXPECT_EQ(platform::UserNotices::shared().pending().size(), 1u) << c.name; // told once
        session.press(MouseKey::F19); // reaches the focused application instead
        EXPECT_TRUE(classifier.events.empty()) << c.name;

        permissions.input = true;
        session.setAvailable(true);
        platform::UserNotices::shared().resetForTesting();
        check->permissionCheckCallback({});
        EXPECT_TRUE(sessionTap.installed()) << c.name;
        EXPECT_TRUE(check->keysTaken()) << c.name;
        check->permissionCheckCallback({});
        EXPECT_EQ(session.startCount(), c.refusedStarts + 1) << c.name; // installed once
        EXPECT_FALSE(platform::UserNotices::shared().wasPosted(MMpermissionCheck::kKeyTapNoticeKey)) << c.name;
        session.press(MouseKey::F19);
        EXPECT_EQ(classifier.events, (std::vector<Event> { { 80, kDown } })) << c.name;
    }
    platform::UserNotices::shared().resetForTesting();
}

// At start-up the application does not wait for a guide window: while the
// keys cannot be taken it says so once in the tip window and checks input
// access again on its own, and stops once the tap runs.
TEST_F(PermissionCheckTest, StartUpCheckRetriesOnItsOwnUntilTheKeysAreTaken)
{
    platform::UserNotices::shared().resetForTesting();
    keys.setAvailable(false);
    auto check = checker();
    QStringList tips;
    check->startupCheck(time, [&](const QString& text) { tips << text; });
    ASSERT_EQ(tips.size(), 1);
    EXPECT_FALSE(tips[0].isEmpty());
    EXPECT_TRUE(platform::UserNotices::shared().wasPosted(MMpermissionCheck::kKeyTapNoticeKey));
    EXPECT_EQ(keys.startCount(), 1);

    time.advance(MMpermissionCheck::kKeyTapRetryInterval * 3);
    EXPECT_EQ(keys.startCount(), 4);
    EXPECT_FALSE(tap.installed());
    EXPECT_EQ(tips.size(), 1);
    EXPECT_EQ(permissions.screenAsked, 1); // only input access is checked again
    EXPECT_EQ(permissions.bluetoothAsked, 1);

    keys.setAvailable(true);
    time.advance(MMpermissionCheck::kKeyTapRetryInterval);
    EXPECT_TRUE(tap.installed());
    time.advance(MMpermissionCheck::kKeyTapRetryInterval * 5);
    EXPECT_EQ(keys.startCount(), 5);
    EXPECT_EQ(time.pendingCount(), 0u);
    keys.press(MouseKey::F20);
    EXPECT_EQ(classifier.events, (std::vector<Event> { { 90, kDown } }));

    // Keys taken at once: no tip and nothing left to retry.
    fakes::FakeKeyTap fine;
    KeyEventTap fineTap { fine };
    auto quiet = MMpermissionCheck::create({ permissions, fineTap, classifier, device });
    tips.clear();
    quiet->startupCheck(time, [&](const QString& text) { tips << text; });
    EXPECT_TRUE(fineTap.installed());
    EXPECT_TRUE(tips.isEmpty());
    EXPECT_EQ(time.pendingCount(), 0u);
    platform::UserNotices::shared().resetForTesting();
}

// The notice is in the interface language, not one language for everyone.
TEST_F(PermissionCheckTest, TheKeysNoticeIsInTheInterfaceLanguage)
{
    struct Case {
        quint64 language;
        const char* startsWith;
    };
    const Case cases[] = {
        { 0, "鼠标的语音" },
        { 1, "The mouse's voice" },
        { 4, "마우스의 음성" },
    };
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    keys.setAvailable(false);
    for (const Case& c : cases) {
        platform::UserNotices::shared().resetForTesting();
        languages.setIndexOfUI(c.language);
        auto check = checker();
        check->permissionCheckCallback({});
        const std::vector<platform::UserNotices::Notice> notices = platform::UserNotices::shared().pending();
        ASSERT_EQ(notices.size(), 1u) << c.language;
        EXPECT_TRUE(notices[0].text.startsWith(QString::fromUtf8(c.startsWith))) << notices[0].text.toStdString();
    }
    languages.setIndexOfUI(before);
    platform::UserNotices::shared().resetForTesting();
}

TEST_F(PermissionCheckTest, FilterDropsRepeatsAndForwardsTheRest)
{
    struct Case {
        const char* name;
        std::vector<Event> in;
        std::vector<Event> out;
    };
    const Case cases[] = {
        { "holding the voice key: auto-repeats dropped",
            { { 80, kDown }, { 80, kDown }, { 80, kDown }, { 80, kUp } }, { { 80, kDown }, { 80, kUp } } },
        { "pressing twice", { { 80, kDown }, { 80, kUp }, { 80, kDown }, { 80, kUp } },
            { { 80, kDown }, { 80, kUp }, { 80, kDown }, { 80, kUp } } },
        { "two keys overlapping", { { 80, kDown }, { 90, kDown }, { 90, kUp }, { 80, kUp } },
            { { 80, kDown }, { 90, kDown }, { 90, kUp }, { 80, kUp } } },
        { "other keys and event types left alone", { { 64, kDown }, { 64, kUp }, { 80, 12 }, { 79, 0 } },
            {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        classifier.events.clear();
        auto check = checker();
        for (const auto& [key, type] : c.in)
            check->postNotificationWithKeyCode(key, type);
        EXPECT_EQ(classifier.events, c.out);
    }
}

TEST_F(PermissionCheckTest, KeysAreRemappedByDeviceModel)
{
    struct Case {
        quint64 model;
        quint16 f18, f19, f20;
    };
    const Case cases[] = {
        { 0, 79, 80, 90 },
        { 1, 79, 80, 90 },
        { 3, 79, 80, 90 },
        { 4, 80, 80, 90 }, // both keys act as the voice key
        { 5, 80, 79, 90 }, // the two keys swapped
        { 6, 79, 80, 90 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MMpermissionCheck::remappedKeyCode(79, c.model), c.f18) << c.model;
        EXPECT_EQ(MMpermissionCheck::remappedKeyCode(80, c.model), c.f19) << c.model;
        EXPECT_EQ(MMpermissionCheck::remappedKeyCode(90, c.model), c.f20) << c.model;
    }

    // Through the tap, with the model read at each event.
    auto check = checker();
    check->permissionCheckCallback({});
    device.setDeviceModel(5);
    keys.press(MouseKey::F18);
    keys.release(MouseKey::F18);
    device.setDeviceModel(1);
    keys.press(MouseKey::F18);
    keys.press(MouseKey::F20);
    EXPECT_EQ(
        classifier.events, (std::vector<Event> { { 80, kDown }, { 80, kUp }, { 79, kDown }, { 90, kDown } }));
    EXPECT_EQ(check->myKeycode(), 90);
    EXPECT_EQ(check->myEventType(), kDown);
}

TEST_F(PermissionCheckTest, LatestCheckerIsTheTargetAndIsKeptAlive)
{
    auto first = checker();
    first->permissionCheckCallback({});
    keys.press(MouseKey::F19);
    EXPECT_EQ(first->myKeycode(), 80);

    std::weak_ptr<MMpermissionCheck> second;
    {
        auto check = checker();
        check->permissionCheckCallback({});
        second = check;
    } // the caller let go of it
    ASSERT_FALSE(second.expired());
    // De-duplication starts afresh with the new target: the same down again is forwarded.
    keys.press(MouseKey::F19);
    keys.release(MouseKey::F19);
    EXPECT_EQ(classifier.events, (std::vector<Event> { { 80, kDown }, { 80, kDown }, { 80, kUp } }));
    EXPECT_EQ(first->myEventType(), kDown);
    EXPECT_EQ(second.lock()->myEventType(), kUp);
    EXPECT_EQ(tap.target(), second.lock().get());
}

// The tap and the real classifier together: a held voice key gives one long press.
TEST(PermissionCheckWithClassifier, HeldKeyWithAutoRepeatGivesOneLongPress)
{
    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMwebconfig config { prefs };
    config.setFir_voice_long(1);
    fakes::VirtualTime time;
    MMHidManager classifier { config, time, time };
    std::vector<quint64> codes;
    classifier.mousebeginAudioCallback([&](quint64 code) { codes.push_back(code); });
    fakes::FakePermissions permissions;
    fakes::FakeKeyTap keys;
    KeyEventTap tap { keys };
    MMDeviceInfo device;
    auto check = MMpermissionCheck::create({ permissions, tap, classifier, device });
    check->permissionCheckCallback({});

    keys.press(MouseKey::F19);
    for (int i = 0; i < 20; ++i) {
        time.advance(0.05);
        keys.press(MouseKey::F19);
    }
    keys.release(MouseKey::F19);
    time.advance(2);
    EXPECT_EQ(codes, (std::vector<quint64> { 801012, 801013 }));
}

} // namespace
