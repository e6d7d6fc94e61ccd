#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>
#include <optional>
#include <thread>

using platform::Notification;
using platform::NotificationCenter;
using platform::ObserverToken;

namespace {

const QString kPing = QStringLiteral("Ping");
const QString kPong = QStringLiteral("Pong");

} // namespace

TEST(NotificationCenter, DeliversInRegistrationOrderWithObjectAndUserInfo)
{
    NotificationCenter center;
    QStringList calls;
    std::optional<Notification> seen;
    auto first = center.addObserver(kPing, [&](const Notification& n) {
        calls << QStringLiteral("first");
        seen = n;
    });
    auto second = center.addObserver(kPing, [&](const Notification&) { calls << QStringLiteral("second"); });
    auto third = center.addObserver(kPing, [&](const Notification&) { calls << QStringLiteral("third"); });

    center.post(kPing, QStringLiteral("sender"), { { QStringLiteral("level"), 3 } });
    EXPECT_EQ(
        calls, (QStringList { QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third") }));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->name, kPing);
    EXPECT_EQ(seen->object, QVariant(QStringLiteral("sender")));
    EXPECT_EQ(seen->userInfo.value(QStringLiteral("level")), QVariant(3));
}

TEST(NotificationCenter, ObserversSeeOnlyTheirNameAndAnEmptyNameSeesAll)
{
    NotificationCenter center;
    QStringList pings, pongs, all;
    auto a = center.addObserver(kPing, [&](const Notification& n) { pings << n.name; });
    auto b = center.addObserver(kPong, [&](const Notification& n) { pongs << n.name; });
    auto c = center.addObserver(QString(), [&](const Notification& n) { all << n.name; });

    center.post(kPing);
    center.post(kPong);
    center.post(QStringLiteral("Other"));
    EXPECT_EQ(pings, QStringList { kPing });
    EXPECT_EQ(pongs, QStringList { kPong });
    EXPECT_EQ(all, (QStringList { kPing, kPong, QStringLiteral("Other") }));
}

TEST(NotificationCenter, TokensRemoveTheirObserver)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto scoped = center.addObserver(kPing, [&](const Notification&) { ++calls; });
        EXPECT_TRUE(scoped.isActive());
        center.post(kPing);
    }
    center.post(kPing);
    EXPECT_EQ(calls, 1); // gone with its token

    auto token = center.addObserver(kPing, [&](const Notification&) { ++calls; });
    ObserverToken moved = std::move(token);
    EXPECT_FALSE(token.isActive()); // a moved-from token is empty
    EXPECT_TRUE(moved.isActive());
    center.post(kPing);
    EXPECT_EQ(calls, 2); // moving kept it registered

    ObserverToken assigned;
    assigned = std::move(moved);
    center.post(kPing);
    EXPECT_EQ(calls, 3);
    assigned.reset();
    EXPECT_FALSE(assigned.isActive());
    center.post(kPing);
    EXPECT_EQ(calls, 3);

    // Assigning over an active token removes the observer it held.
    auto replaced = center.addObserver(kPing, [&](const Notification&) { calls += 100; });
    replaced = center.addObserver(kPing, [&](const Notification&) { calls += 1; });
    center.post(kPing);
    EXPECT_EQ(calls, 4);
}

TEST(NotificationCenter, ATokenMayOutliveItsCenter)
{
    ObserverToken token;
    {
        NotificationCenter center;
        token = center.addObserver(kPing, [](const Notification&) {});
        EXPECT_TRUE(token.isActive());
    }
    EXPECT_FALSE(token.isActive());
    token.reset(); // no access to the destroyed center
}

TEST(NotificationCenter, RemovalDuringDeliveryIsSafe)
{
    NotificationCenter center;
    QStringList calls;
    ObserverToken second;
    ObserverToken self;
    auto first = center.addObserver(kPing, [&](const Notification&) {
        calls << QStringLiteral("first");
        second.reset(); // an observer later in the list
    });
    second = center.addObserver(kPing, [&](const Notification&) { calls << QStringLiteral("second"); });
    self = center.addObserver(kPing, [&, marker = std::make_shared<int>(7)](const Notification&) {
        self.reset(); // removes the handler that is running
        calls << QStringLiteral("self %1").arg(*marker); // its captures are still alive
    });

    center.post(kPing);
    // A removed observer is not called, even within the post that removed it.
    EXPECT_EQ(calls, (QStringList { QStringLiteral("first"), QStringLiteral("self 7") }));
    calls.clear();
    center.post(kPing);
    EXPECT_EQ(calls, QStringList { QStringLiteral("first") });
}

TEST(NotificationCenter, AnObserverAddedDuringDeliveryHearsTheNextPost)
{
    NotificationCenter center;
    QStringList calls;
    std::vector<ObserverToken> added;
    auto adder = center.addObserver(kPing, [&](const Notification&) {
        calls << QStringLiteral("adder");
        if (added.empty())
            added.push_back(
                center.addObserver(kPing, [&](const Notification&) { calls << QStringLiteral("added"); }));
    });
    center.post(kPing);
    EXPECT_EQ(calls, QStringList { QStringLiteral("adder") });
    center.post(kPing);
    EXPECT_EQ(
        calls, (QStringList { QStringLiteral("adder"), QStringLiteral("adder"), QStringLiteral("added") }));
}

TEST(NotificationCenter, PostingFromAHandlerDeliversAtOnce)
{
    NotificationCenter center;
    QStringList calls;
    auto ping = center.addObserver(kPing, [&](const Notification&) {
        calls << QStringLiteral("ping begins");
        center.post(kPong);
        calls << QStringLiteral("ping ends");
    });
    auto pong = center.addObserver(kPong, [&](const Notification&) { calls << QStringLiteral("pong"); });
    center.post(kPing);
    EXPECT_EQ(calls,
        (QStringList { QStringLiteral("ping begins"), QStringLiteral("pong"), QStringLiteral("ping ends") }));
}

TEST(NotificationCenter, DeliveryHappensOnThePostingThread)
{
    NotificationCenter center;
    std::thread::id deliveredOn;
    auto token
        = center.addObserver(kPing, [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
    std::thread::id posterId;
    std::thread poster([&] {
        posterId = std::this_thread::get_id();
        center.post(kPing);
    });
    poster.join();
    EXPECT_EQ(deliveredOn, posterId);
}

TEST(NotificationCenter, TheDefaultCenterIsOneObject)
{
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("NotificationCenterTest.Default"), [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().post(QStringLiteral("NotificationCenterTest.Default"));
    EXPECT_EQ(calls, 1);
}
