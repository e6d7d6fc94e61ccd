#include "fakes/FakeHidMouse.h"

#include "fakes/MouseReplies.h"

#include "platform/HidDevice.h"
#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace fakes {

using mouse_replies::bytes;

// The open receiver interface handed to the link; it talks to its mouse.
class FakeHidHandle final : public platform::HidDevice {
public:
    explicit FakeHidHandle(FakeHidMouse& mouse)
        : mouse_(mouse)
    {
        ++mouse_.openHandles_;
    }
    ~FakeHidHandle() override { mouse_.closeHandle(); }

    int read(uchar* buffer, qsizetype capacity, int timeoutMs) override
    {
        return mouse_.read(buffer, capacity, timeoutMs);
    }
    void interruptReads() override
    {
        {
            std::lock_guard lock(mouse_.mutex_);
            mouse_.interrupted_ = true;
        }
        mouse_.changed_.notify_all();
    }
    int write(const uchar* data, qsizetype size) override { return mouse_.write(data, size); }
    QString lastError() const override
    {
        std::lock_guard lock(mouse_.mutex_);
        if (mouse_.unplugged_)
            return QStringLiteral("fake device removed");
        return mouse_.writeFails_ ? QStringLiteral("fake write failure") : QString();
    }

private:
    FakeHidMouse& mouse_;
};

const QByteArray FakeHidMouse::kVendorPath = "/dev/hidraw-fake2";

FakeHidMouse::FakeHidMouse()
{
    const auto iface = [](const char* path, int number, quint16 page, quint16 usage) {
        platform::HidDeviceInfo info;
        info.path = path;
        info.vendorId = kVendorId;
        info.productId = kProductId;
        info.manufacturer = QStringLiteral("Fake Maker");
        info.product = QStringLiteral("USB Composite Device");
        info.releaseNumber = 0x0100;
        info.interfaceNumber = number;
        info.usagePage = page;
        info.usage = usage;
        return info;
    };
    interfaces_ = { iface("/dev/hidraw-fake0", 0, 0x0001, 0x0006),
        iface("/dev/hidraw-fake1", 1, 0xFF01, 0x0001), iface(kVendorPath.constData(), 2, 0xFF00, 0x0001) };
}

FakeHidMouse::~FakeHidMouse() = default;

bool FakeHidMouse::init()
{
    ++inits_;
    if (initFails_)
        lastError_ = QStringLiteral("fake init failure");
    return !initFails_;
}

std::vector<platform::HidDeviceInfo> FakeHidMouse::enumerate(quint16 vendorId, quint16 productId)
{
    std::vector<platform::HidDeviceInfo> out;
    for (const platform::HidDeviceInfo& info : interfaces_) {
        if (info.vendorId == vendorId && info.productId == productId)
            out.push_back(info);
    }
    return out;
}

std::unique_ptr<platform::HidDevice> FakeHidMouse::open(const QByteArray& path)
{
    if (openFails_) {
        lastError_ = QStringLiteral("fake open failure");
        return nullptr;
    }
    ++opens_;
    openedPath_ = path;
    {
        std::lock_guard lock(mutex_);
        interrupted_ = false;
    }
    return std::make_unique<FakeHidHandle>(*this);
}

QString FakeHidMouse::lastError() const
{
    return lastError_;
}

void FakeHidMouse::exit()
{
    ++exits_;
}

void FakeHidMouse::setAudioFrames(const QList<QByteArray>& frames)
{
    {
        std::lock_guard lock(mutex_);
        frames_.assign(frames.begin(), frames.end());
    }
    changed_.notify_all();
}

void FakeHidMouse::allowAudioReports(int count)
{
    {
        std::lock_guard lock(mutex_);
        audioAllowance_ = count;
    }
    changed_.notify_all();
}

void FakeHidMouse::queueReport(const QByteArray& report)
{
    {
        std::lock_guard lock(mutex_);
        reports_.push_back(report);
    }
    changed_.notify_all();
}

void FakeHidMouse::unplug()
{
    {
        std::lock_guard lock(mutex_);
        unplugged_ = true;
    }
    changed_.notify_all();
}

void FakeHidMouse::closeHandle()
{
    std::lock_guard lock(mutex_);
    --openHandles_;
    if (readsUnderWay_ > 0)
        ++closesDuringRead_;
}

bool FakeHidMouse::deliverReports(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // Nothing was handed out since the last delivery and nothing waits: done.
            if (handedOut_ == delivered_
                && (interrupted_ || unplugged_ || openHandles_ == 0 || !hasReportLocked()))
                return true;
            // A reader back in a blocked read has passed on every report it took before.
            const auto settled = [this] {
                return interrupted_ || unplugged_ || openHandles_ == 0
                    || (readersWaiting_ > 0 && !hasReportLocked());
            };
            const auto left = std::chrono::milliseconds(std::max<qint64>(0, timeoutMs - clock.elapsed()));
            if (!changed_.wait_for(lock, left, settled))
                return false;
            delivered_ = handedOut_;
        }
        bool reached = false;
        platform::MainQueue::shared().async([&reached] { reached = true; });
        while (!reached)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

bool FakeHidMouse::microphoneOn() const
{
    std::lock_guard lock(mutex_);
    return micOn_;
}

size_t FakeHidMouse::audioFramesLeft() const
{
    std::lock_guard lock(mutex_);
    return frames_.size();
}

size_t FakeHidMouse::reportsWaiting() const
{
    std::lock_guard lock(mutex_);
    return reports_.size();
}

quint64 FakeHidMouse::readCount() const
{
    std::lock_guard lock(mutex_);
    return reads_;
}

quint64 FakeHidMouse::reportsHandedOut() const
{
    std::lock_guard lock(mutex_);
    return handedOut_;
}

int FakeHidMouse::closesDuringRead() const
{
    std::lock_guard lock(mutex_);
    return closesDuringRead_;
}

qsizetype FakeHidMouse::countWrites(const QByteArray& report) const
{
    return std::count(writes_.begin(), writes_.end(), report);
}

int FakeHidMouse::read(uchar* buffer, qsizetype capacity, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    ++reads_;
    ++readsUnderWay_;
    const auto ready = [this] { return interrupted_ || unplugged_ || hasReportLocked(); };
    if (!ready() && timeoutMs != 0) {
        ++readersWaiting_;
        changed_.notify_all();
        if (timeoutMs < 0)
            changed_.wait(lock, ready);
        else
            changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        --readersWaiting_;
    }
    int result = 0;
    if (interrupted_) {
        result = 0;
    } else if (unplugged_) {
        result = -1;
    } else if (hasReportLocked()) {
        QByteArray report;
        if (!reports_.empty()) {
            report = reports_.front();
            reports_.pop_front();
        } else {
            report = audioReport(frames_.front());
            frames_.pop_front();
            if (audioAllowance_ > 0)
                --audioAllowance_;
        }
        const qsizetype n = std::min(capacity, report.size());
        std::memcpy(buffer, report.constData(), size_t(n));
        ++handedOut_;
        result = int(n);
    }
    --readsUnderWay_;
    return result;
}

int FakeHidMouse::write(const uchar* data, qsizetype size)
{
    const QByteArray report(reinterpret_cast<const char*>(data), size);
    writes_.push_back(report);
    {
        std::lock_guard lock(mutex_);
        if (unplugged_)
            return -1;
    }
    if (writeFails_)
        return -1;
    answer(report);
    return int(size);
}

QByteArray FakeHidMouse::padded(const QByteArray& report) const
{
    QByteArray out = report;
    if (out.size() < reportSize_)
        out.append(QByteArray(reportSize_ - out.size(), '\0'));
    return out;
}

void FakeHidMouse::reply(const QByteArray& report)
{
    queueReport(padded(report));
}

void FakeHidMouse::answer(const QByteArray& report)
{
    // Receiver commands under report number 00: 00 A5 5A len 52 code ...
    if (report == bytes({ 0x00, 0xA5, 0x5A, 0x07, 0x52, 0x01, 0x00, 0xFF })) {
        if (ignoreInfo_ > 0) {
            --ignoreInfo_;
            return;
        }
        reply(deviceNameReport());
        reply(serialAndLinkReport());
        return;
    }
    for (int v : { 0, 1 }) {
        if (report == bytes({ 0x00, 0xA5, 0x5A, 0x07, 0x52, 0x02, v, 0x00, 0x00, 0x00, 0xFF })) {
            popUp_ = v;
            reply(popUpReport());
            return;
        }
        if (report == bytes({ 0x00, 0xA5, 0x5A, 0x07, 0x52, 0x03, v, 0xFF })) {
            // The switch and its reply at once: the reply goes out before the first audio.
            {
                std::lock_guard lock(mutex_);
                micOn_ = v;
                reports_.push_back(padded(bytes({ 0xA5, 0x5A, 0x07, 0x54, 0x03, v, 0x00 })));
            }
            changed_.notify_all();
            return;
        }
    }
    if (report.size() == 9 && report.startsWith(bytes({ 0x00, 0xA5, 0x5A, 0x08, 0x52, 0x04 }))
        && quint8(report.at(8)) == 0xFF) {
        dpi_ = quint16(quint8(report.at(6)) | (quint8(report.at(7)) << 8));
        reply(dpiReport());
        return;
    }
    if (report == bytes({ 0x9D, 0xA5, 0x5A, 0x05, 0x0A })) {
        reply(batteryReport());
        return;
    }
    unexpected_.push_back(report);
}

QByteArray FakeHidMouse::deviceNameReport() const
{
    return mouse_replies::deviceName(name_, major_, minor_);
}

QByteArray FakeHidMouse::serialAndLinkReport() const
{
    return mouse_replies::serialAndLink(serial_, link_);
}

QByteArray FakeHidMouse::serialReport() const
{
    return mouse_replies::serial(serial_);
}

QByteArray FakeHidMouse::batteryReport() const
{
    return mouse_replies::battery(batteryRaw_);
}

QByteArray FakeHidMouse::dpiReport() const
{
    return mouse_replies::dpi(dpi_);
}

QByteArray FakeHidMouse::popUpReport() const
{
    return mouse_replies::popUp(popUp_);
}

QByteArray FakeHidMouse::microphoneReport() const
{
    return mouse_replies::microphone(microphoneOn());
}

QByteArray FakeHidMouse::firmwareReport() const
{
    return mouse_replies::firmware(major_, minor_);
}

QByteArray FakeHidMouse::audioReport(const QByteArray& frame)
{
    QByteArray slot = frame.left(58);
    slot.append(QByteArray(58 - slot.size(), '\0'));
    return bytes({ 0x9D, 0x01, 0x00 }) + slot + QByteArray(3, '\0');
}

} // namespace fakes
