#include "device/DeviceReplyFrame.h"

#include "core/StringCoding.h"

namespace device_reply_frame {

using Kind = DeviceReplyFrame::Kind;

// The tests of the reply table, each with how it matches.
struct ReplyTest {
    Kind kind;
    bool startsWith; // else: anywhere in the text
    const char* marker;
};

constexpr ReplyTest kDpiTest { Kind::Dpi, true, "a55a085404" };
constexpr ReplyTest kPopUpTest { Kind::PopUpState, true, "a55a075402" };
constexpr ReplyTest kFirmwareTest { Kind::Firmware, false, "a55a070b" };
constexpr ReplyTest kDeviceNameTest { Kind::DeviceName, false, "540b" };
constexpr ReplyTest kMicrophoneTest { Kind::Microphone, false, "a55a075403" };
constexpr ReplyTest kBatteryTest { Kind::Battery, false, "a55a095406" };
constexpr ReplyTest kSerialTest { Kind::Serial, false, "0c5406" };
constexpr ReplyTest kSerialAndLinkTest { Kind::SerialAndLink, false, "145406" };
constexpr ReplyTest kStatus05Test { Kind::Status05, false, "5405" };

// The links try the tests in different orders and stop at the first that holds.
constexpr ReplyTest kUsbOrder[] = { kDpiTest, kPopUpTest, kFirmwareTest, kDeviceNameTest, kMicrophoneTest,
    kBatteryTest, kSerialTest, kSerialAndLinkTest, kStatus05Test };
constexpr ReplyTest kBleOrder[] = { kDpiTest, kFirmwareTest, kDeviceNameTest, kPopUpTest, kStatus05Test,
    kSerialTest, kSerialAndLinkTest, kMicrophoneTest, kBatteryTest };

constexpr qsizetype kSerialHexChars = 24;
constexpr qsizetype kSerialAndLinkHexChars = 40;
constexpr qsizetype kPayloadOffset = 5;

quint8 byteAt(const QByteArray& data, qsizetype i)
{
    return quint8(data.at(i));
}

QString byteHex(const QByteArray& data, qsizetype i)
{
    return StringCoding::convertDataToHexStringWithData(data.mid(i, 1));
}

// Fills in the fields of the kind found; marks the reply too short when the
// bytes received do not reach them.
void readFields(DeviceReplyFrame& reply, const QByteArray& data, const QString& hex)
{
    switch (reply.kind) {
    case Kind::Dpi:
        if (data.size() < 7)
            reply.tooShort = true;
        else
            reply.dpi = quint16(byteAt(data, 5) | (byteAt(data, 6) << 8));
        break;
    case Kind::PopUpState:
        if (data.size() < 6)
            reply.tooShort = true;
        else
            reply.popUpState = DeviceReplyFrame::leadingDecimal(byteHex(data, 5));
        break;
    case Kind::Firmware:
        if (data.size() < 6)
            reply.tooShort = true;
        else
            reply.firmwareVersion = QStringLiteral("%1.%2")
                                        .arg(DeviceReplyFrame::leadingDecimal(byteHex(data, 4)))
                                        .arg(DeviceReplyFrame::leadingDecimal(byteHex(data, 5)));
        break;
    case Kind::DeviceName: {
        // The run from byte 5 up to and including the first FF: name, major, minor, FF.
        QByteArray run = data.mid(kPayloadOffset);
        const qsizetype end = run.indexOf(char(0xFF));
        if (end >= 0)
            run.truncate(end + 1);
        if (run.size() < 3) {
            reply.tooShort = true;
            break;
        }
        const qsizetype n = run.size();
        reply.deviceName = run.left(n - 3);
        reply.firmwareVersion = QStringLiteral("%1.%2").arg(byteAt(run, n - 3)).arg(byteAt(run, n - 2));
        break;
    }
    case Kind::Battery:
        if (data.size() < 7) {
            reply.tooShort = true;
        } else {
            reply.batteryLow = byteAt(data, 5);
            reply.batteryHigh = byteAt(data, 6);
        }
        break;
    case Kind::Serial:
        if (hex.size() < kSerialHexChars)
            reply.tooShort = true;
        else
            reply.serial = hex.mid(10, 12).toUpper();
        break;
    case Kind::SerialAndLink:
        if (hex.size() < kSerialAndLinkHexChars) {
            reply.tooShort = true;
        } else {
            reply.serial = hex.mid(10, 12).toUpper();
            reply.linkText = hex.mid(36, 2).toUpper();
        }
        break;
    case Kind::None:
    case Kind::Audio:
    case Kind::Microphone:
    case Kind::Status05:
        break;
    }
}

template <size_t N>
DeviceReplyFrame matchReply(const QByteArray& data, const QString& hex, const ReplyTest (&order)[N])
{
    DeviceReplyFrame reply;
    for (const ReplyTest& test : order) {
        const QLatin1StringView marker(test.marker);
        if (test.startsWith ? hex.startsWith(marker) : hex.contains(marker)) {
            reply.kind = test.kind;
            readFields(reply, data, hex);
            break;
        }
    }
    return reply;
}

} // namespace device_reply_frame

DeviceReplyFrame DeviceReplyFrame::parse(const QByteArray& data, DeviceLink link)
{
    // The hex text has two digits per byte, so a text that starts with a whole
    // number of bytes' digits ("a55a", "9d01", "9d") starts so exactly when the
    // bytes do: the audio of every report is recognised without writing it out.
    if (link == DeviceLink::Usb) {
        if (data.startsWith("\xA5\x5A")) {
            // Only the first 32 bytes of a report are looked at, and never
            // more than were received.
            const QByteArray inspected = data.left(kUsbReplyBytes);
            return device_reply_frame::matchReply(inspected,
                StringCoding::convertDataToHexStringWithData(inspected), device_reply_frame::kUsbOrder);
        }
        DeviceReplyFrame reply;
        if (data.startsWith("\x9D\x01"))
            reply.kind = Kind::Audio;
        return reply;
    }

    if (data.isEmpty())
        return {};
    if (data.startsWith('\x9D') && data.size() >= kBleAudioPacketBytes) {
        DeviceReplyFrame reply;
        reply.kind = Kind::Audio;
        return reply;
    }
    return device_reply_frame::matchReply(
        data, StringCoding::convertDataToHexStringWithData(data), device_reply_frame::kBleOrder);
}

quint64 DeviceReplyFrame::leadingDecimal(const QString& text)
{
    quint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            break;
        if (value > (std::numeric_limits<quint64>::max() - 9) / 10)
            break;
        value = value * 10 + quint64(c.unicode() - u'0');
    }
    return value;
}

quint64 DeviceReplyFrame::dpiLevel(quint16 dpi)
{
    switch (dpi) {
    case 800:
        return 1;
    case 1000:
        return 2;
    case 1300:
        return 3;
    case 1600:
        return 4;
    default:
        return 0;
    }
}

quint64 DeviceReplyFrame::modelForName(const QByteArray& name)
{
    static constexpr std::pair<const char*, quint64> kModels[]
        = { { "KZ31", 1 }, { "KZ32", 2 }, { "KZ43", 3 }, { "KZ45", 4 }, { "KZ7", 5 } };
    for (const auto& [code, model] : kModels) {
        if (name.contains(code))
            return model;
    }
    return 1;
}
