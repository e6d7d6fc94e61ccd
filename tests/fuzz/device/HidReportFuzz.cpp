// Reports from the USB receiver through the link's receive path: reply
// recognition, the reply handler (settings, device state, battery,
// identification) and the audio decoder.
//
// Input: reports one after another, each a length byte and that many bytes;
// a length of 0 is skipped, and a report longer than the link's read buffer
// is cut to it, as a read would.

#include "FuzzTarget.h"
#include "SettledPreferences.h"
#include "VirtualExecutor.h"
#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "platform/HidLibrary.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QRegularExpression>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// A receiver with one vendor interface that accepts every command and has
// nothing to read: the input supplies the reports.
class Receiver final : public platform::HidLibrary {
public:
    static constexpr quint16 kVendorId = 0x1234, kProductId = 0x5678;

    bool init() override { return true; }
    std::vector<platform::HidDeviceInfo> enumerate(quint16 vendorId, quint16 productId) override
    {
        platform::HidDeviceInfo info;
        info.path = "fuzz";
        info.vendorId = vendorId;
        info.productId = productId;
        info.usagePage = 0xFF00;
        return { info };
    }
    std::unique_ptr<platform::HidDevice> open(const QByteArray&) override
    {
        return std::make_unique<Handle>();
    }
    QString lastError() const override { return {}; }
    void exit() override { }

private:
    // The link's reader thread waits here until the link closes.
    class Handle final : public platform::HidDevice {
    public:
        int read(uchar*, qsizetype, int timeoutMs) override
        {
            std::unique_lock lock(mutex_);
            const auto interrupted = [this] { return interrupted_; };
            if (timeoutMs < 0)
                wake_.wait(lock, interrupted);
            else
                wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), interrupted);
            return 0;
        }
        void interruptReads() override
        {
            const std::lock_guard lock(mutex_);
            interrupted_ = true;
            wake_.notify_all();
        }
        int write(const uchar*, qsizetype size) override { return int(size); }
        QString lastError() const override { return {}; }

    private:
        std::mutex mutex_;
        std::condition_variable wake_;
        bool interrupted_ = false;
    };
};

class Alerts final : public DeviceAlertPresenter {
public:
    void presentAlert(
        const QString&, const QString&, const QStringList&, std::function<void(int)> completion) override
    {
        if (completion)
            completion(0);
    }
};

// The mouse is identified to the back end by 12 upper-case hex digits.
void checkSerial(const QString& sn)
{
    static const QRegularExpression serial(QStringLiteral("^[0-9A-F]{12}$"));
    if (!serial.match(sn).hasMatch())
        fuzz::fail("identified the mouse by a malformed serial \"%s\"", qPrintable(sn));
}

} // namespace

PRAVIK_FUZZ_TARGET(hid_report)
{
    static SettledPreferences settled(
        QStringLiteral("link"), [](platform::Preferences& prefs) { MMwebconfig config(prefs); });
    MMwebconfig config(settled.restore());
    MMDeviceInfo device;
    platform::NotificationCenter center;
    Alerts alerts;
    SBCDecoder decoder;
    Receiver receiver;
    VirtualExecutor executor;
    UWHidapiManager link(receiver, executor, device, config, center, alerts, decoder);

    DeviceLinkHooks hooks;
    hooks.getApiKeyWithDeviceMacAdress = checkSerial;
    hooks.getProductInfoWithDeviceMacAdress = [](const QString& sn, const QString&) { checkSerial(sn); };
    hooks.writePcmData = [](const QByteArray& pcm) {
        if (pcm.isEmpty() || pcm.size() % 2 != 0 || pcm.size() > SBCDecoder::kMaxSamples * 2)
            fuzz::fail("handed on %lld bytes of audio", static_cast<long long>(pcm.size()));
    };
    link.setHooks(hooks);
    link.hidRequestReadMouseInfoVid(Receiver::kVendorId, Receiver::kProductId, {});
    if (!link.hidConnected())
        fuzz::fail("the receiver did not open");

    for (qsizetype at = 0; at < input.size();) {
        const qsizetype length = static_cast<uchar>(input[at++]);
        const QByteArray report = input.mid(at, length);
        at += length;
        if (!report.isEmpty())
            link.handleReport(report.left(UWHidapiManager::kReadBufferSize));
    }
    link.hidRequestClose();
}
