#include "device/HidReportReader.h"

#include "fakes/FakeHidMouse.h"
#include "platform/HidDevice.h"
#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using fakes::FakeHidMouse;
using Clock = std::chrono::steady_clock;

QByteArray numbered(int i)
{
    return QByteArray("\xA5\x5A", 2) + QByteArray::number(i);
}

// Turns the event loop for the given real time.
void runFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Waits (real time) until the condition holds; false after two seconds.
template <typename Condition> bool waitUntil(Condition condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 2000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class HidReportReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<HidReportReader> startReader()
    {
        return std::make_unique<HidReportReader>(*handle, 244, platform::MainQueue::shared(),
            [this](const QByteArray& report) { handled.push_back(report); });
    }

    FakeHidMouse mouse;
    std::unique_ptr<platform::HidDevice> handle = mouse.open(FakeHidMouse::kVendorPath);
    std::vector<QByteArray> handled;
};

TEST_F(HidReportReaderTest, ReportsReachTheMainThreadInTheOrderRead)
{
    std::vector<QByteArray> sent;
    for (int i = 0; i < 300; ++i) {
        sent.push_back(i % 3 == 0 ? FakeHidMouse::audioReport(QByteArray(58, char(i))) : numbered(i));
        mouse.queueReport(sent.back());
    }
    const auto reader = startReader();
    ASSERT_TRUE(mouse.deliverReports());
    EXPECT_EQ(handled, sent);
    // Handed over, never handled on the reader's own thread.
    reader->stop();
    EXPECT_EQ(mouse.closesDuringRead(), 0);
}

TEST_F(HidReportReaderTest, AReportArrivesWithinOneAudioFrame)
{
    // The mouse sends one audio report per 7.5 ms while its microphone is on.
    constexpr int kReports = 40;
    constexpr auto kFrame = std::chrono::microseconds(7500);
    std::vector<Clock::time_point> queuedAt(kReports);
    std::vector<Clock::duration> latency;
    // The same hand-over without the reader: what this machine's load alone
    // adds to a report's way to the main thread, measured in the same run.
    std::vector<Clock::duration> plainLatency;
    HidReportReader reader(*handle, 244, platform::MainQueue::shared(), [&](const QByteArray& report) {
        const int i = report.mid(2).toInt();
        handled.push_back(report);
        latency.push_back(Clock::now() - queuedAt[size_t(i)]);
    });
    ASSERT_TRUE(waitUntil([&] { return mouse.readCount() > 0; }));
    std::thread device([&] {
        for (int i = 0; i < kReports; ++i) {
            const auto now = Clock::now();
            queuedAt[size_t(i)] = now;
            mouse.queueReport(numbered(i));
            platform::MainQueue::shared().async([&, now] { plainLatency.push_back(Clock::now() - now); });
            std::this_thread::sleep_for(kFrame);
        }
    });
    QElapsedTimer timer;
    timer.start();
    while ((handled.size() < size_t(kReports) || plainLatency.size() < size_t(kReports)) && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    device.join();

    ASSERT_EQ(handled.size(), size_t(kReports));
    for (int i = 0; i < kReports; ++i)
        EXPECT_EQ(handled[size_t(i)], numbered(i));
    // A busy test machine delays every hand-over; a reader that waits on a
    // timer or gathers reports adds up to a frame or more on top of that.
    ASSERT_EQ(plainLatency.size(), size_t(kReports));
    std::sort(latency.begin(), latency.end());
    std::sort(plainLatency.begin(), plainLatency.end());
    EXPECT_LT(latency[latency.size() / 2], plainLatency[plainLatency.size() / 2] + kFrame / 2);
}

TEST_F(HidReportReaderTest, ASilentDeviceIsReadOnceAndNotPolled)
{
    const auto reader = startReader();
    runFor(300);
    EXPECT_EQ(mouse.readCount(), 1u);
    EXPECT_TRUE(handled.empty());
}

TEST_F(HidReportReaderTest, StoppingEndsABlockedReadAtOnce)
{
    auto reader = startReader();
    ASSERT_TRUE(waitUntil([&] { return mouse.readCount() > 0; }));
    QElapsedTimer timer;
    timer.start();
    reader->stop();
    EXPECT_LT(timer.elapsed(), 200);
    // The thread is gone: the device may close now.
    handle.reset();
    EXPECT_EQ(mouse.closesDuringRead(), 0);
    reader.reset();
}

TEST_F(HidReportReaderTest, ReportsNotYetHandledWhenStoppedAreDropped)
{
    auto reader = startReader();
    mouse.queueReport(numbered(1));
    mouse.queueReport(numbered(2));
    ASSERT_TRUE(waitUntil([&] { return mouse.reportsHandedOut() == 2; }));
    reader->stop();
    runFor(50);
    EXPECT_TRUE(handled.empty());

    // A stopped device stays interrupted; the device opened again is read
    // by a new reader from where the mouse is now.
    reader.reset();
    handle = mouse.open(FakeHidMouse::kVendorPath);
    mouse.queueReport(numbered(3));
    HidReportReader again(*handle, 244, platform::MainQueue::shared(),
        [this](const QByteArray& report) { handled.push_back(report); });
    ASSERT_TRUE(waitUntil([&] { return mouse.reportsHandedOut() == 3; }));
    runFor(50);
    EXPECT_EQ(handled, std::vector<QByteArray> { numbered(3) });
}

TEST_F(HidReportReaderTest, RemovalMidReadIsNotSpunOn)
{
    const auto reader = startReader();
    mouse.queueReport(numbered(1));
    ASSERT_TRUE(mouse.deliverReports());
    ASSERT_TRUE(waitUntil([&] { return mouse.readCount() == 2; })); // blocked in the next read
    mouse.unplug();
    runFor(300);
    // The failed read, one more at once, then a pause.
    EXPECT_LE(mouse.readCount(), 4u);
    EXPECT_EQ(handled, std::vector<QByteArray> { numbered(1) });

    QElapsedTimer timer;
    timer.start();
    reader->stop(); // interrupts the pause too
    EXPECT_LT(timer.elapsed(), 200);
}

} // namespace
