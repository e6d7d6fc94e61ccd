#include "device/HidReportReader.h"

#include "platform/Executor.h"
#include "platform/HidDevice.h"

#include <chrono>

HidReportReader::HidReportReader(
    platform::HidDevice& device, qsizetype bufferSize, platform::Executor& mainThread, ReportHandler onReport)
    : device_(device)
    , bufferSize_(bufferSize)
    , mainThread_(mainThread)
    , sink_(std::make_shared<Sink>(Sink { std::move(onReport) }))
{
    thread_ = std::thread([this, sink = std::weak_ptr<Sink>(sink_)] { run(sink); });
}

HidReportReader::~HidReportReader()
{
    stop();
}

void HidReportReader::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    device_.interruptReads();
    wake_.notify_all();
    thread_.join();
    // Reports already on their way to the main thread find no one there.
    sink_.reset();
}

void HidReportReader::run(std::weak_ptr<Sink> sink)
{
    int failures = 0;
    while (!stopping_) {
        // A fresh buffer per read, cut to what arrived: bytes of an earlier,
        // longer report never count.
        QByteArray report(bufferSize_, Qt::Uninitialized);
        const int received = device_.read(reinterpret_cast<uchar*>(report.data()), report.size(), -1);
        if (received > 0) {
            failures = 0;
            report.truncate(std::min<qsizetype>(received, bufferSize_));
            mainThread_.async([sink, report] {
                if (const std::shared_ptr<Sink> live = sink.lock())
                    live->onReport(report);
            });
        } else if (received < 0) {
            // One failure is read again at once (an interrupted wait reads
            // as one); more in a row mean the device is gone.
            if (++failures >= 2 && !pause())
                return;
        }
    }
}

bool HidReportReader::pause()
{
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(
        lock, std::chrono::milliseconds(kErrorPauseMs), [this] { return stopping_.load(); });
}
