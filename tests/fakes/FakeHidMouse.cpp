#include "fakes/FakeHidMouse.h"

#include "platform/HidDevice.h"

#include <algorithm>
#include <cstring>

namespace fakes {

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

} // namespace

// The open receiver interface handed to the link; it talks to its mouse.
class FakeHidHandle final : public platform::HidDevice {
public:
    explicit FakeHidHandle(FakeHidMouse& mouse)
        : mouse_(mouse)
    {
        ++mouse_.openHandles_;
    }
    ~FakeHidHandle() override { --mouse_.openHandles_; }

    int read(uchar* buffer, qsizetype capacity) override { return mouse_.read(buffer, capacity); }
    int write(const uchar* data, qsizetype size) override { return mouse_.write(data, size); }
    QString lastError() const override
    {
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
    frames_.assign(frames.begin(), frames.end());
}

qsizetype FakeHidMouse::countWrites(const QByteArray& report) const
{
    return std::count(writes_.begin(), writes_.end(), report);
}

int FakeHidMouse::read(uchar* buffer, qsizetype capacity)
{
    QByteArray report;
    if (!reports_.empty()) {
        report = reports_.front();
        reports_.pop_front();
    } else if (micOn_ && !frames_.empty()) {
        report = audioReport(frames_.front());
        frames_.pop_front();
    } else {
        return 0;
    }
    const qsizetype n = std::min(capacity, report.size());
    std::memcpy(buffer, report.constData(), size_t(n));
    return int(n);
}

int FakeHidMouse::write(const uchar* data, qsizetype size)
{
    const QByteArray report(reinterpret_cast<const char*>(data), size);
    writes_.push_back(report);
    if (writeFails_)
        return -1;
    answer(report);
    return int(size);
}

void FakeHidMouse::reply(const QByteArray& report)
{
    QByteArray padded = report;
    if (padded.size() < reportSize_)
        padded.append(QByteArray(reportSize_ - padded.size(), '\0'));
    reports_.push_back(padded);
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
            micOn_ = v;
            reply(microphoneReport());
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
    QByteArray out = bytes({ 0xA5, 0x5A, 0x00, 0x54, 0x0B }) + name_ + bytes({ major_, minor_, 0xFF });
    out[2] = char(quint8(out.size()));
    return out;
}

QByteArray FakeHidMouse::serialAndLinkReport() const
{
    QByteArray out = bytes({ 0xA5, 0x5A, 0x14, 0x54, 0x06 }) + serial_ + QByteArray(7, '\0');
    out.append(char(link_));
    out.append('\0');
    return out;
}

QByteArray FakeHidMouse::serialReport() const
{
    return bytes({ 0xA5, 0x5A, 0x0C, 0x54, 0x06 }) + serial_ + QByteArray(1, '\0');
}

QByteArray FakeHidMouse::batteryReport() const
{
    return bytes({ 0xA5, 0x5A, 0x09, 0x54, 0x06, batteryRaw_ & 0xFF, batteryRaw_ >> 8, 0x00, 0x00 });
}

QByteArray FakeHidMouse::dpiReport() const
{
    return bytes({ 0xA5, 0x5A, 0x08, 0x54, 0x04, dpi_ & 0xFF, dpi_ >> 8, 0x00 });
}

QByteArray FakeHidMouse::popUpReport() const
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x54, 0x02, popUp_ ? 1 : 0, 0x00 });
}

QByteArray FakeHidMouse::microphoneReport() const
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x54, 0x03, micOn_ ? 1 : 0, 0x00 });
}

QByteArray FakeHidMouse::firmwareReport() const
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x0B, major_, minor_, 0x00 });
}

QByteArray FakeHidMouse::audioReport(const QByteArray& frame)
{
    QByteArray slot = frame.left(58);
    slot.append(QByteArray(58 - slot.size(), '\0'));
    return bytes({ 0x9D, 0x01, 0x00 }) + slot + QByteArray(3, '\0');
}

} // namespace fakes
