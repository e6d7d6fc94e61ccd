#include "device/UWHidapiManager.h"

#include "core/MMUserInfo.h"
#include "device/DeviceReplyFrame.h"
#include "device/MessageBoxAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/UWHidHelper.h"
#include "platform/HidDevice.h"
#include "platform/HidLibrary.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <algorithm>
#include <cstdio>

namespace {

// The receiver's vendor interfaces; FF01 is another vendor page it carries.
constexpr quint16 kVendorUsagePages[] = { 0xFF00, 0xFF02, 0xFF03 };

constexpr qsizetype kAudioSlotOffset = 3;
constexpr qsizetype kAudioSlotBytes = 58;

// The link reports its own troubles on standard output only.
void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

bool isVendorInterface(const platform::HidDeviceInfo& info)
{
    return std::find(std::begin(kVendorUsagePages), std::end(kVendorUsagePages), info.usagePage)
        != std::end(kVendorUsagePages);
}

void printInterface(const platform::HidDeviceInfo& info)
{
    say(QStringLiteral("--- 找到目标设备 ---"));
    say(QString());
    say(QStringLiteral("  path:       %1").arg(QString::fromUtf8(info.path)));
    say(QStringLiteral("  pid:        %1").arg(info.productId, 4, 16, QLatin1Char('0')));
    say(QStringLiteral("  vid:        %1").arg(info.vendorId, 4, 16, QLatin1Char('0')));
    say(QStringLiteral("  设备序列号:   %1").arg(info.serialNumber));
    say(QStringLiteral("  厂商字符串:   %1").arg(info.manufacturer));
    say(QStringLiteral("  设备字符串:   %1").arg(info.product));
    say(QStringLiteral("  版本号:      %1").arg(info.releaseNumber, 0, 16));
    say(QStringLiteral("  interface : %1").arg(info.interfaceNumber));
    say(QStringLiteral("  usage_page: %1").arg(info.usagePage));
    say(QStringLiteral("  usage:      %1").arg(info.usage));
    say(QString());
}

} // namespace

UWHidapiManager& UWHidapiManager::sharedUWHidapiManager()
{
    static MessageBoxAlertPresenter alerts;
    static UWHidapiManager manager(platform::HidLibrary::shared(), platform::MainQueue::shared(),
        MMUserInfo::sharedMMUserInfo().deviceInfo(), MMUserInfo::sharedMMUserInfo().webConfig(),
        platform::NotificationCenter::defaultCenter(), alerts, SBCDecoder::shareInstance());
    return manager;
}

UWHidapiManager::UWHidapiManager(platform::HidLibrary& hid, platform::Executor& executor,
    MMDeviceInfo& device, MMwebconfig& config, platform::NotificationCenter& center,
    DeviceAlertPresenter& alerts, SBCDecoder& decoder)
    : hid_(hid)
    , executor_(executor)
    , device_(device)
    , decoder_(decoder)
    , battery_(device, center, alerts)
    , replies_(device, config, center, battery_, hooks_)
    , checkInfoTimer_(executor)
    , lowPowerTimer_(executor, device, [this] {
        if (hooks_.chaDianchi)
            hooks_.chaDianchi();
    })
{
}

UWHidapiManager::~UWHidapiManager()
{
    hidRequestClose();
}

void UWHidapiManager::hidRequestReadMouseInfoVid(quint16 vid, quint16 pid, OpenCallback callback)
{
    // A second open replaces the first rather than leaving its poll running.
    hidRequestClose();

    if (!hid_.init()) {
        say(QStringLiteral("hid_init failed"));
        if (callback)
            callback(false, 0);
        return;
    }
    const std::vector<platform::HidDeviceInfo> interfaces = hid_.enumerate(vid, pid);
    const auto target = std::find_if(interfaces.begin(), interfaces.end(), isVendorInterface);
    if (target == interfaces.end())
        return;
    printInterface(*target);
    if (target->path.isEmpty())
        return;

    handle_ = hid_.open(target->path);
    if (!handle_) {
        const QString error = hid_.lastError();
        if (!error.isEmpty())
            say(error);
        if (callback)
            callback(false, 0);
        return;
    }
    hidConnected_ = true;
    reader_ = std::make_unique<HidReportReader>(*handle_, kReadBufferSize, platform::MainQueue::shared(),
        [this](const QByteArray& report) { handleReport(report); });
    firstRequest_ = executor_.asyncAfter(kFirstRequestDelay, [this] {
        firstRequest_ = 0;
        sendGetDeviceInfoFromMouseCallBack();
    });
}

void UWHidapiManager::hidRequestClose()
{
    if (!hidConnected_ && !handle_)
        return;
    // The reader is joined before the handle it reads from closes.
    reader_.reset();
    hidConnected_ = false;
    removeLowPowerTimer();
    // Nothing may write through the closed handle: the repeats of the
    // device-information request and the first request stop here too.
    checkInfoTimer_.stop();
    if (firstRequest_ != 0) {
        executor_.cancel(firstRequest_);
        firstRequest_ = 0;
    }
    handle_.reset();
    hid_.exit();
}

bool UWHidapiManager::canWrite() const
{
    if (!hidConnected_)
        return false;
    if (!handle_) {
        say(QStringLiteral("unable to open device"));
        return false;
    }
    return true;
}

int UWHidapiManager::writeReport(const QByteArray& report)
{
    const int result = handle_->write(reinterpret_cast<const uchar*>(report.constData()), report.size());
    if (result < 0) {
        say(QStringLiteral("Unable to write()"));
        say(QStringLiteral("Error: %1").arg(handle_->lastError()));
    }
    return result;
}

void UWHidapiManager::sendGetDeviceInfoFromMouseCallBack()
{
    if (!canWrite())
        return;
    writeReport(UWHidHelper::hidGetDeviceInfoReport());
    if (checkInfoTimer_.isActive())
        return;
    checkInfoTimer_.start(kCheckInfoInterval, [this] {
        if (!device_.sn().isEmpty()) {
            checkInfoTimer_.stop();
            return;
        }
        if (canWrite())
            writeReport(UWHidHelper::hidGetDeviceInfoReport());
    });
}

void UWHidapiManager::SetThePopUpWebsiteSwitch(bool on)
{
    if (canWrite())
        writeReport(UWHidHelper::hidPopUpWebsiteReport(on));
}

void UWHidapiManager::SetMicrophoneOpen(bool on)
{
    if (canWrite())
        writeReport(UWHidHelper::hidMicrophoneReport(on));
}

void UWHidapiManager::SetDpiWithIndex(quint64 level)
{
    if (canWrite())
        writeReport(UWHidHelper::hidDpiReport(level));
}

void UWHidapiManager::getDianchi()
{
    if (canWrite())
        writeReport(UWHidHelper::hidBatteryReport());
}

void UWHidapiManager::setDevName(const QVariant& name)
{
    if (canWrite())
        writeReport(UWHidHelper::hidDeviceNameReport(name));
}

void UWHidapiManager::setDownLoadURL(const QVariant& url)
{
    if (canWrite())
        writeReport(UWHidHelper::hidDownloadUrlReport(url));
}

void UWHidapiManager::setcustomLedCallBack(QVariantList& values)
{
    if (!canWrite())
        return;
    const std::optional<QByteArray> report = UWHidHelper::hidCustomLedReport(values);
    if (!report)
        return;
    const int result = handle_->write(reinterpret_cast<const uchar*>(report->constData()), report->size());
    if (result < 1) {
        say(QStringLiteral("Unable to write()"));
        say(QStringLiteral("Error: %1").arg(handle_->lastError()));
    }
}

void UWHidapiManager::handleReport(const QByteArray& report)
{
    const DeviceReplyFrame reply = DeviceReplyFrame::parse(report, DeviceLink::Usb);
    if (report.startsWith("\xA5\x5A")) {
        replies_.handle(reply, DeviceLink::Usb);
        if (hidConnected_)
            initLowPowerTimer();
    } else if (reply.kind == DeviceReplyFrame::Kind::Audio) {
        handleAudio(report);
    }
}

void UWHidapiManager::handleAudio(const QByteArray& report)
{
    // One frame slot per report; a short report gives a short slot, which the decoder refuses.
    const QByteArray pcm = decoder_.decodeFrame(report.mid(kAudioSlotOffset, kAudioSlotBytes));
    if (pcm.isEmpty())
        return;
    if (hooks_.isQuite)
        hooks_.isQuite(pcm);
    if (hooks_.writePcmData)
        hooks_.writePcmData(pcm);
    if (const PcmCallback subscriber = pcmCallBack_)
        subscriber(pcm, false);
}

void UWHidapiManager::initLowPowerTimer()
{
    lowPowerTimer_.start();
}

void UWHidapiManager::removeLowPowerTimer()
{
    lowPowerTimer_.stop();
}
