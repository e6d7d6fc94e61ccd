#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
class Executor;
class HidDevice;
} // namespace platform

// Reads a HID device's input reports on a thread of its own, blocking in the
// device's read without a time limit, and hands each report to the main
// thread in the order read, as soon as it arrives. A silent device wakes
// nothing: no timer, no polling.
//
// Created, stopped and destroyed on the main thread. stop() interrupts the
// read and returns once the reading thread has ended, so the device may be
// closed after it; reports read but not yet handled by then are dropped.
class HidReportReader {
public:
    using ReportHandler = std::function<void(const QByteArray& report)>;

    // After a second failed read in a row (the device is gone until the link
    // closes) the next read waits this long, so a dead device is not spun on.
    static constexpr int kErrorPauseMs = 500;

    // Starts reading at once. `mainThread` must accept work from any thread
    // and run it on the main thread in the order given.
    HidReportReader(platform::HidDevice& device, qsizetype bufferSize, platform::Executor& mainThread,
        ReportHandler onReport);
    ~HidReportReader();
    HidReportReader(const HidReportReader&) = delete;
    HidReportReader& operator=(const HidReportReader&) = delete;

    void stop();

private:
    // The main thread's end of the hand-over; gone once the reader stops.
    struct Sink {
        ReportHandler onReport;
    };

    void run(std::weak_ptr<Sink> sink);
    // Waits the pause unless stop() is asked for meanwhile; false when it was.
    bool pause();

    platform::HidDevice& device_;
    const qsizetype bufferSize_;
    platform::Executor& mainThread_;
    std::shared_ptr<Sink> sink_;

    std::atomic<bool> stopping_ { false };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};
