#include "fakes/VirtualTime.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <limits>
#include <vector>

using fakes::VirtualTime;

namespace {

constexpr double kStart = 1000.0;

struct Event {
    QString what;
    double at;
    bool operator==(const Event&) const = default;
};

} // namespace

TEST(VirtualTime, NothingRunsUntilTimeMoves)
{
    VirtualTime time(kStart);
    bool ran = false;
    time.async([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(time.pendingCount(), 1u);
    time.runPending();
    EXPECT_TRUE(ran);
    EXPECT_EQ(time.now(), kStart);
}

TEST(VirtualTime, TasksRunAtTheirOwnMomentIncludingThoseScheduledByTasks)
{
    VirtualTime time(kStart);
    std::vector<Event> events;
    auto log = [&](const char* what) {
        events.push_back({ QString::fromLatin1(what), time.now() - kStart });
    };
    time.asyncAfter(3, [&] { log("three"); });
    time.asyncAfter(1, [&] {
        log("one");
        time.asyncAfter(1, [&] { log("one plus one"); });
        time.async([&] { log("one plus nothing"); });
        time.asyncAfter(10, [&] { log("too late"); });
    });
    time.asyncAfter(-4, [&] { log("negative"); });
    time.asyncAfter(std::numeric_limits<double>::quiet_NaN(), [&] { log("nan"); });

    const double monotonicBefore = time.monotonic();
    time.advance(5);
    EXPECT_EQ(events,
        (std::vector<Event> { { QStringLiteral("negative"), 0 }, { QStringLiteral("nan"), 0 },
            { QStringLiteral("one"), 1 }, { QStringLiteral("one plus nothing"), 1 },
            { QStringLiteral("one plus one"), 2 }, { QStringLiteral("three"), 3 } }));
    EXPECT_EQ(time.now(), kStart + 5);
    EXPECT_EQ(time.monotonic() - monotonicBefore, 5);
    EXPECT_EQ(time.pendingCount(), 1u); // "too late" is due at 11

    time.advance(6);
    EXPECT_EQ(events.back(), (Event { QStringLiteral("too late"), 11 }));
}

TEST(VirtualTime, TasksDueTogetherRunInSchedulingOrder)
{
    VirtualTime time(kStart);
    QStringList order;
    time.asyncAfter(2, [&] { order << QStringLiteral("a"); });
    time.asyncAfter(2, [&] { order << QStringLiteral("b"); });
    time.asyncAfter(1.5, [&] { order << QStringLiteral("earlier"); });
    time.asyncAfter(2, [&] { order << QStringLiteral("c"); });
    time.advance(2); // the end of the step counts
    EXPECT_EQ(order,
        (QStringList {
            QStringLiteral("earlier"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }));
}

TEST(VirtualTime, CancelledTasksNeverRun)
{
    VirtualTime time(kStart);
    QStringList ran;
    const auto early = time.asyncAfter(1, [&] { ran << QStringLiteral("early"); });
    platform::TaskId later = 0;
    time.asyncAfter(2, [&] {
        ran << QStringLiteral("canceller");
        time.cancel(later); // cancelled by a task, within the same advance
    });
    later = time.asyncAfter(3, [&] { ran << QStringLiteral("later"); });
    time.cancel(early);
    time.cancel(early); // twice
    time.cancel(12345); // unknown
    time.advance(10);
    EXPECT_EQ(ran, QStringList { QStringLiteral("canceller") });
    EXPECT_EQ(time.pendingCount(), 0u);
}

TEST(VirtualTime, WallAndBootClocksMoveApartWhenSetOrRebooted)
{
    VirtualTime time(kStart);
    std::vector<Event> ran;
    time.asyncAfter(10, [&] { ran.push_back({ QStringLiteral("due"), time.now() }); });
    const double boot = time.monotonic();
    time.jumpWallClock(-500);
    EXPECT_EQ(time.now(), kStart - 500);
    EXPECT_EQ(time.monotonic(), boot);
    time.advance(9);
    EXPECT_TRUE(ran.empty()); // tasks keep their own due times
    time.advance(1);
    EXPECT_EQ(ran, (std::vector<Event> { { QStringLiteral("due"), kStart + 10 - 500 } }));
    time.setBootClock(3);
    EXPECT_EQ(time.monotonic(), 3);
    time.advance(2);
    EXPECT_EQ(time.monotonic(), 5);
}

TEST(VirtualTime, TasksLeftAtDestructionMayCancelOthers)
{
    // A task that holds something whose destruction cancels another task.
    auto time = std::make_unique<VirtualTime>(kStart);
    struct Canceller {
        VirtualTime* time;
        platform::TaskId other;
        ~Canceller() { time->cancel(other); }
    };
    const platform::TaskId other = time->asyncAfter(5, [] { });
    auto canceller = std::make_shared<Canceller>(Canceller { time.get(), other });
    time->asyncAfter(1, [canceller] { });
    canceller.reset();
    time.reset(); // must not touch the tasks while they go
}
