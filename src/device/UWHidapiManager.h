#pragma once

#include "device/DeviceBattery.h"
#include "device/DeviceLinkHooks.h"
#include "device/DeviceReplyHandler.h"
#include "device/HidReportReader.h"
#include "device/LowPowerTimer.h"
#include "device/RepeatingTimer.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>

class DeviceAlertPresenter;
class MMDeviceInfo;
class MMwebconfig;
class SBCDecoder;

namespace platform {
class Executor;
class HidDevice;
class HidLibrary;
class NotificationCenter;
} // namespace platform

// The link to the mouse through its USB receiver: opens the receiver's vendor
// interface, reads its replies and audio as they arrive (a reader thread
// blocks in the read and hands each report to the main thread, so a silent
// mouse costs nearly nothing), writes command reports, asks for the device
// information until the serial is known, and polls the battery every 300 s
// while replies come in. Main thread only, apart from that reader.
class UWHidapiManager {
public:
    using OpenCallback = std::function<void(bool ok, qint64 code)>;
    // Decoded PCM (16 kHz, 16-bit mono); the flag is always false.
    using PcmCallback = std::function<void(const QByteArray& pcm, bool flag)>;

    static constexpr double kFirstRequestDelay = 0.2;
    static constexpr double kCheckInfoInterval = 1.0;
    static constexpr double kLowPowerInterval = LowPowerTimer::kInterval;
    static constexpr qsizetype kReadBufferSize = 244;

    static UWHidapiManager& sharedUWHidapiManager();

    UWHidapiManager(platform::HidLibrary& hid, platform::Executor& executor, MMDeviceInfo& device,
        MMwebconfig& config, platform::NotificationCenter& center, DeviceAlertPresenter& alerts,
        SBCDecoder& decoder);
    ~UWHidapiManager();
    UWHidapiManager(const UWHidapiManager&) = delete;
    UWHidapiManager& operator=(const UWHidapiManager&) = delete;

    void setHooks(DeviceLinkHooks hooks) { hooks_ = std::move(hooks); }

    // Opens the first vendor interface (usage page FF00, FF02 or FF03) of the
    // device with these ids, replacing a link already open. The callback
    // hears (false, 0) when the library or the open fails; it is not called
    // on success or when no interface fits.
    void hidRequestReadMouseInfoVid(quint16 vid, quint16 pid, OpenCallback callback);
    // Closes the link and stops its timers; nothing when it is not open.
    void hidRequestClose();
    bool hidConnected() const { return hidConnected_; }

    // Command writers: one report each, nothing while the link is closed.
    void sendGetDeviceInfoFromMouseCallBack(); // also repeats every second until the serial is known
    void SetThePopUpWebsiteSwitch(bool on);
    void SetMicrophoneOpen(bool on);
    void SetDpiWithIndex(quint64 level);
    void getDianchi();
    void setDevName(const QVariant& name);
    void setDownLoadURL(const QVariant& url);
    // The first element is taken as the mode and removed from the caller's list.
    void setcustomLedCallBack(QVariantList& values);

    // The single PCM subscriber; a new one replaces the last, an empty one clears it.
    void rowdataPcmAudioCallBack(PcmCallback callback) { pcmCallBack_ = std::move(callback); }

    // Handles one input report as read from the receiver: a reply or an
    // audio packet; anything else is ignored. The reader calls it for every
    // report while the link is open.
    void handleReport(const QByteArray& report);

    // The 300 s battery poll; started by every reply, stopped when the link closes.
    void initLowPowerTimer();
    void removeLowPowerTimer();

private:
    bool canWrite() const;
    int writeReport(const QByteArray& report);
    void handleAudio(const QByteArray& report);

    platform::HidLibrary& hid_;
    platform::Executor& executor_;
    MMDeviceInfo& device_;
    SBCDecoder& decoder_;
    DeviceLinkHooks hooks_;
    DeviceBattery battery_;
    DeviceReplyHandler replies_;

    std::unique_ptr<platform::HidDevice> handle_;
    // Declared after the handle: it reads from it and is stopped first.
    std::unique_ptr<HidReportReader> reader_;
    bool hidConnected_ = false;
    PcmCallback pcmCallBack_;
    RepeatingTimer checkInfoTimer_;
    LowPowerTimer lowPowerTimer_;
    quint64 firstRequest_ = 0;
};
