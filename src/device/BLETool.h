#pragma once

#include "device/DeviceBattery.h"
#include "device/DeviceLinkHooks.h"
#include "device/DeviceReplyHandler.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class DeviceAlertPresenter;
class MMDeviceInfo;
class MMwebconfig;
class SBCDecoder;

namespace platform {
class NotificationCenter;
}

// The decoder of what the mouse notifies over Bluetooth LE: reply frames
// are recognised in the BLE order and applied to the application's state,
// audio packets (four 61-byte pieces, each three header bytes and a 58-byte
// mSBC slot) are decoded and handed first to the single PCM subscriber,
// then to the recording. An event observer, when one is set, hears each
// notification's code with its hex text and bytes. Main thread only.
class BLETool {
public:
    // What a notification was, as eventTypeConvertDataToHexStr() answers.
    enum Event : int {
        kEventNone = 0, // empty, information reply, too short to read, or unknown
        kEventAudio = 1,
        kEventDpi = 2,
        kEventPopUpState = 3,
        kEventSerial = 4,
        kEventStatus05 = 5,
    };

    using PcmCallback = std::function<void(const QByteArray& pcm)>;
    using EventCallback = std::function<void(int event, const QString& hex, const QByteArray& data)>;

    static constexpr qsizetype kAudioPieceBytes = 61;
    static constexpr qsizetype kAudioSlotOffset = 3;
    static constexpr qsizetype kAudioSlotBytes = 58;

    static BLETool& sharedBLETool();

    BLETool(MMDeviceInfo& device, MMwebconfig& config, platform::NotificationCenter& center,
        DeviceAlertPresenter& alerts, SBCDecoder& decoder);
    BLETool(const BLETool&) = delete;
    BLETool& operator=(const BLETool&) = delete;

    void setHooks(DeviceLinkHooks hooks) { hooks_ = std::move(hooks); }

    // Despite its name, answers an event code (Event), not hex text.
    // Recognises one reply frame or whole audio packet, applies it and
    // answers what it was; then tells the event observer. Bytes are read
    // only as far as they were received: a reply too short for its fields,
    // and an audio packet that is not exactly
    // DeviceReplyFrame::kBleAudioPacketBytes long, change nothing.
    int eventTypeConvertDataToHexStr(const QByteArray& data);
    // The event observer; a new one replaces the last, an empty one clears it.
    void bleEventCallBack(EventCallback callback) { eventCallBack_ = std::move(callback); }

    // Lower-case hex, two digits a byte; empty for no bytes.
    static QString byteToString(const QByteArray& data);
    // The same text, but null for no bytes.
    static QString convertDataToHexStr(const QByteArray& data);
    // The bytes of a hex text of either case, spaces ignored; nothing when
    // a character is not a hex digit or the digits do not pair up, no bytes
    // for an empty text.
    static std::optional<QByteArray> stringToByte(const QString& hex);

    // The single PCM subscriber; a new one replaces the last, an empty one clears it.
    void blePcmAudioCallBack(PcmCallback callback) { pcmCallBack_ = std::move(callback); }
    bool hasPcmSubscriber() const { return bool(pcmCallBack_); }

private:
    int decode(const QByteArray& data);
    void handleAudio(const QByteArray& packet);

    SBCDecoder& decoder_;
    DeviceLinkHooks hooks_;
    DeviceBattery battery_;
    DeviceReplyHandler replies_;
    PcmCallback pcmCallBack_;
    EventCallback eventCallBack_;
};
