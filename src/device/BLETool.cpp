#include "device/BLETool.h"

#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "device/DeviceReplyFrame.h"
#include "device/MessageBoxAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "platform/NotificationCenter.h"

BLETool& BLETool::sharedBLETool()
{
    static MessageBoxAlertPresenter alerts;
    static BLETool tool(MMUserInfo::sharedMMUserInfo().deviceInfo(), MMUserInfo::sharedMMUserInfo().webConfig(),
        platform::NotificationCenter::defaultCenter(), alerts, SBCDecoder::shareInstance());
    return tool;
}

BLETool::BLETool(MMDeviceInfo& device, MMwebconfig& config, platform::NotificationCenter& center,
    DeviceAlertPresenter& alerts, SBCDecoder& decoder)
    : decoder_(decoder)
    , battery_(device, center, alerts)
    , replies_(device, config, center, battery_, hooks_)
{
}

int BLETool::eventTypeConvertDataToHexStr(const QByteArray& data)
{
    const int event = decode(data);
    if (const EventCallback observer = eventCallBack_)
        observer(event, convertDataToHexStr(data), data);
    return event;
}

QString BLETool::byteToString(const QByteArray& data)
{
    const QString hex = StringCoding::convertDataToHexStringWithData(data);
    return hex.isNull() ? QStringLiteral("") : hex;
}

QString BLETool::convertDataToHexStr(const QByteArray& data)
{
    return StringCoding::convertDataToHexStringWithData(data);
}

std::optional<QByteArray> BLETool::stringToByte(const QString& hex)
{
    QString digits = hex.toUpper();
    digits.remove(QLatin1Char(' '));
    if (digits.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : std::as_const(digits)) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return std::nullopt;
    }
    return StringCoding::convertHexStringToDataWithString(digits);
}

int BLETool::decode(const QByteArray& data)
{
    using Kind = DeviceReplyFrame::Kind;
    const DeviceReplyFrame reply = DeviceReplyFrame::parse(data, DeviceLink::Ble);
    if (reply.kind == Kind::Audio) {
        if (data.size() != DeviceReplyFrame::kBleAudioPacketBytes)
            return kEventNone;
        handleAudio(data);
        return kEventAudio;
    }
    replies_.handle(reply, DeviceLink::Ble);
    if (reply.tooShort)
        return kEventNone;
    switch (reply.kind) {
    case Kind::Dpi:
        return kEventDpi;
    case Kind::PopUpState:
        return kEventPopUpState;
    case Kind::Serial:
    case Kind::SerialAndLink:
        return kEventSerial;
    case Kind::Status05:
        return kEventStatus05;
    case Kind::None:
    case Kind::Audio:
    case Kind::Firmware:
    case Kind::DeviceName:
    case Kind::Microphone:
    case Kind::Battery:
        break;
    }
    return kEventNone;
}

void BLETool::handleAudio(const QByteArray& packet)
{
    QByteArray pcm;
    for (qsizetype piece = 0; piece + kAudioPieceBytes <= packet.size(); piece += kAudioPieceBytes)
        pcm += decoder_.decodeFrame(packet.mid(piece + kAudioSlotOffset, kAudioSlotBytes));
    // On this link the subscriber hears the audio before the recording does;
    // a packet that gave no audio still goes to the recording (as nothing).
    if (const PcmCallback subscriber = pcmCallBack_; subscriber && !pcm.isEmpty())
        subscriber(pcm);
    if (hooks_.isQuite)
        hooks_.isQuite(pcm);
    if (hooks_.writePcmData)
        hooks_.writePcmData(pcm);
}
