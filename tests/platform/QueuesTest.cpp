#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

using platform::GlobalQueue;
using platform::MainQueue;
using platform::SerialQueue;

namespace {

// Runs the main thread's event loop until the condition holds or the time is
// up; answers whether it holds.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

template <typename T> bool ready(std::future<T>& f, int timeoutMs = 5000)
{
    return f.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}

} // namespace

// --- SerialQueue -------------------------------------------------------------

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread)
{
    SerialQueue queue(QStringLiteral("order"));
    EXPECT_EQ(queue.name(), QStringLiteral("order"));
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    bool alwaysCurrent = true;
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            alwaysCurrent = alwaysCurrent && queue.isCurrent();
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[i], i);
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_TRUE(alwaysCurrent);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, SyncFromItsOwnTaskRunsInline)
{
    SerialQueue queue(QStringLiteral("inline"));
    SerialQueue other(QStringLiteral("other"));
    std::vector<QString> steps;
    std::promise<void> finished;
    auto done = finished.get_future();
    queue.async([&] {
        steps.push_back(QStringLiteral("outer begins"));
        queue.sync([&] { steps.push_back(QStringLiteral("inner")); });
        steps.push_back(QStringLiteral("outer ends"));
        EXPECT_FALSE(other.isCurrent());
        finished.set_value();
    });
    ASSERT_TRUE(ready(done)) << "sync() from the queue's own task deadlocked";
    EXPECT_EQ(steps,
        (std::vector<QString> {
            QStringLiteral("outer begins"), QStringLiteral("inner"), QStringLiteral("outer ends") }));
}

TEST(SerialQueue, SyncFromAnotherThreadWaitsForTheTask)
{
    SerialQueue queue(QStringLiteral("sync"));
    int value = 0;
    queue.async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    queue.sync([&] { value = 42; });
    EXPECT_EQ(value, 42);
}

TEST(SerialQueue, DelayedTasksRunAfterPlainOnesAndCancelledOnesNever)
{
    SerialQueue queue(QStringLiteral("delays"));
    std::mutex mutex;
    std::vector<QString> ran;
    auto record = [&](const char* what) {
        return [&, what] {
            std::lock_guard lock(mutex);
            ran.push_back(QString::fromLatin1(what));
        };
    };
    std::promise<void> last;
    auto lastRan = last.get_future();
    queue.asyncAfter(0.05, record("late"));
    const auto cancelled = queue.asyncAfter(0.02, record("cancelled"));
    queue.asyncAfter(-1, record("negative delay"));
    queue.asyncAfter(std::numeric_limits<double>::quiet_NaN(), record("nan delay"));
    queue.async(record("plain"));
    queue.cancel(cancelled);
    queue.cancel(9999); // unknown: nothing happens
    queue.asyncAfter(0.08, [&] { last.set_value(); });
    ASSERT_TRUE(ready(lastRan));
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran,
        (std::vector<QString> { QStringLiteral("negative delay"), QStringLiteral("nan delay"),
            QStringLiteral("plain"), QStringLiteral("late") }));
}

// The queue's thread sleeps until its first delayed task is due; cancelling
// that task meanwhile (the address sanitizer catches a wait on the erased
// task's due time) must leave the queue working.
TEST(SerialQueue, CancellingTheTaskItWaitsForKeepsItWorking)
{
    SerialQueue queue(QStringLiteral("cancel-while-waiting"));
    for (int round = 0; round < 20; ++round) {
        const auto waitedFor = queue.asyncAfter(0.05, [] { ADD_FAILURE() << "a cancelled task ran"; });
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the thread is waiting for it now
        queue.cancel(waitedFor);
        std::promise<void> ran;
        auto done = ran.get_future();
        queue.async([&] { ran.set_value(); });
        ASSERT_TRUE(ready(done)) << round;
    }
}

TEST(SerialQueue, DestructionFinishesDueTasksAndDropsDelayedOnes)
{
    std::atomic<int> count = 0;
    std::atomic<bool> lateRan = false;
    QElapsedTimer clock;
    clock.start();
    {
        SerialQueue queue(QStringLiteral("teardown"));
        queue.async([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ++count; });
        queue.asyncAfter(30, [&] { lateRan = true; });
    }
    EXPECT_EQ(count, 50);
    EXPECT_FALSE(lateRan);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(SerialQueue, StoppedQueueFinishesDueWorkThenRunsTasksOnTheCaller)
{
    SerialQueue queue(QStringLiteral("stop"));
    std::vector<QString> ran;
    queue.async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ran.push_back(QStringLiteral("slow"));
    });
    queue.async([&] { ran.push_back(QStringLiteral("due")); });
    queue.asyncAfter(60, [&] { ran.push_back(QStringLiteral("delayed")); });
    queue.stop();
    EXPECT_EQ(ran, (std::vector<QString> { QStringLiteral("slow"), QStringLiteral("due") }));

    // No thread any more: work posted late (during exit) is not lost.
    std::thread::id where;
    queue.async([&] { where = std::this_thread::get_id(); });
    EXPECT_EQ(where, std::this_thread::get_id());
    int value = 0;
    queue.sync([&] { value = 7; });
    EXPECT_EQ(value, 7);
    queue.asyncAfter(1, [&] { ran.push_back(QStringLiteral("late and delayed")); });
    queue.stop(); // twice is harmless, and so is the destructor after it
    EXPECT_EQ(ran.size(), 2u);
}

TEST(SerialQueue, StopWhilePostersRaceLosesNoDueTask)
{
    for (int round = 0; round < 20; ++round) {
        SerialQueue queue(QStringLiteral("race"));
        std::atomic<int> posted { 0 };
        std::atomic<int> ran { 0 };
        std::thread poster([&] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&] { ++ran; });
                ++posted;
            }
        });
        queue.stop();
        poster.join();
        EXPECT_EQ(ran.load(), posted.load()) << "round " << round;
    }
}

// --- MainQueue ---------------------------------------------------------------

TEST(MainQueue, AsyncFromAnotherThreadRunsOnTheMainThreadInOrder)
{
    ASSERT_TRUE(MainQueue::isMainThread());
    std::vector<int> order;
    bool allOnMain = true;
    std::thread poster([&] {
        EXPECT_FALSE(MainQueue::isMainThread());
        for (int i = 0; i < 5; ++i) {
            MainQueue::shared().async([&, i] {
                order.push_back(i);
                allOnMain = allOnMain && MainQueue::isMainThread();
            });
        }
    });
    poster.join();
    EXPECT_TRUE(order.empty()); // nothing runs before the loop turns
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int> { 0, 1, 2, 3, 4 }));
    EXPECT_TRUE(allOnMain);
}

TEST(MainQueue, AsyncAfterNeverRunsEarly)
{
    QElapsedTimer clock;
    clock.start();
    qint64 ranAt = -1;
    MainQueue::shared().asyncAfter(0.1, [&] { ranAt = clock.elapsed(); });
    bool immediate = false;
    MainQueue::shared().asyncAfter(-5, [&] { immediate = true; });
    ASSERT_TRUE(pumpUntil([&] { return ranAt >= 0; }));
    EXPECT_GE(ranAt, 100);
    EXPECT_TRUE(immediate);
}

TEST(MainQueue, CancelBeforeTheTimerStarted)
{
    bool cancelledRan = false;
    bool keptRan = false;
    const auto id = MainQueue::shared().asyncAfter(0.01, [&] { cancelledRan = true; });
    MainQueue::shared().asyncAfter(0.02, [&] { keptRan = true; });
    MainQueue::shared().cancel(id); // the timer is created only at the next turn of the loop
    ASSERT_TRUE(pumpUntil([&] { return keptRan; }));
    pumpFor(30);
    EXPECT_FALSE(cancelledRan);
}

TEST(MainQueue, CancelAfterTheTimerStarted)
{
    bool cancelledRan = false;
    bool keptRan = false;
    const auto id = MainQueue::shared().asyncAfter(0.05, [&] { cancelledRan = true; });
    MainQueue::shared().asyncAfter(0.08, [&] { keptRan = true; });
    pumpFor(10); // the timers are running now
    MainQueue::shared().cancel(id);
    ASSERT_TRUE(pumpUntil([&] { return keptRan; }));
    EXPECT_FALSE(cancelledRan);
    MainQueue::shared().cancel(id); // twice: nothing happens
}

TEST(MainQueue, CancelFromAnotherThreadWinsOverADueTimer)
{
    // Two timers fall due in the same turn of the loop. The first task has a
    // worker thread cancel the second; cancel() has returned before the second
    // starts, so the second must not run.
    bool secondRan = false;
    bool firstRan = false;
    platform::TaskId second = 0;
    MainQueue::shared().asyncAfter(0.02, [&] {
        firstRan = true;
        std::thread([second] { MainQueue::shared().cancel(second); }).join();
    });
    second = MainQueue::shared().asyncAfter(0.02, [&] { secondRan = true; });
    pumpFor(5); // both timers started
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // both due now
    ASSERT_TRUE(pumpUntil([&] { return firstRan; }));
    pumpFor(20);
    EXPECT_FALSE(secondRan);
}

TEST(MainQueue, CancellingARunTaskOrAnUnknownIdDoesNothing)
{
    int runs = 0;
    const auto id = MainQueue::shared().asyncAfter(0, [&] { ++runs; });
    ASSERT_TRUE(pumpUntil([&] { return runs == 1; }));
    MainQueue::shared().cancel(id);
    MainQueue::shared().cancel(std::numeric_limits<platform::TaskId>::max());
    pumpFor(10);
    EXPECT_EQ(runs, 1);
}

// --- GlobalQueue -------------------------------------------------------------

TEST(GlobalQueue, RunsEveryTaskOffTheMainThreadAndWaitsForThem)
{
    constexpr int kTasks = 64;
    std::atomic<int> done = 0;
    std::atomic<int> onMain = 0;
    const std::thread::id mainThread = std::this_thread::get_id();
    for (int i = 0; i < kTasks; ++i) {
        GlobalQueue::async([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (std::this_thread::get_id() == mainThread)
                ++onMain;
            ++done;
        });
    }
    GlobalQueue::waitForDone();
    EXPECT_EQ(done, kTasks);
    EXPECT_EQ(onMain, 0);
}
