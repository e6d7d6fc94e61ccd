#include "device/DeviceReplyFrame.h"

#include <gtest/gtest.h>

namespace {

using Kind = DeviceReplyFrame::Kind;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

DeviceReplyFrame usb(const QByteArray& bytes)
{
    return DeviceReplyFrame::parse(bytes, DeviceLink::Usb);
}

DeviceReplyFrame ble(const QByteArray& bytes)
{
    return DeviceReplyFrame::parse(bytes, DeviceLink::Ble);
}

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::None:
        return "None";
    case Kind::Audio:
        return "Audio";
    case Kind::Dpi:
        return "Dpi";
    case Kind::PopUpState:
        return "PopUpState";
    case Kind::Firmware:
        return "Firmware";
    case Kind::DeviceName:
        return "DeviceName";
    case Kind::Microphone:
        return "Microphone";
    case Kind::Battery:
        return "Battery";
    case Kind::Serial:
        return "Serial";
    case Kind::SerialAndLink:
        return "SerialAndLink";
    case Kind::Status05:
        return "Status05";
    }
    return "?";
}

struct RecognitionCase {
    const char* bytes;
    Kind usbKind;
    bool usbTooShort;
    Kind bleKind;
    bool bleTooShort;
};

// How each link recognises a report, precedence and length guards included.
TEST(DeviceReplyFrameTest, RecognitionOnBothLinks)
{
    const RecognitionCase cases[] = {
        // One of each reply.
        { "a55a08540458020000", Kind::Dpi, false, Kind::Dpi, false },
        { "a55a07540201", Kind::PopUpState, false, Kind::PopUpState, false },
        { "a55a070b0102", Kind::Firmware, false, Kind::Firmware, false },
        { "a55a08540b0102ff", Kind::DeviceName, false, Kind::DeviceName, false },
        { "a55a07540301", Kind::Microphone, false, Kind::Microphone, false },
        { "a55a09540672010000", Kind::Battery, false, Kind::Battery, false },
        { "a55a0c5406a1b2c3d4e5f600", Kind::Serial, false, Kind::Serial, false },
        { "a55a145406a1b2c3d4e5f6000000000000000400", Kind::SerialAndLink, false, Kind::SerialAndLink,
            false },
        { "a55a055405", Kind::Status05, false, Kind::Status05, false },
        { "a55a0554ee", Kind::None, false, Kind::None, false },
        // A serial whose digits hold "540b" reads as a device name on both links.
        { "a55a145406540b0000000000000000000000000400", Kind::DeviceName, false, Kind::DeviceName, false },
        // The orders differ: battery before status 05 on USB, after it on BLE.
        { "a55a0954065405", Kind::Battery, false, Kind::Status05, false },
        // Microphone before serial on USB; on BLE the serial test holds first and is too short.
        { "a55a0754030c5406", Kind::Microphone, false, Kind::Serial, true },
        // Pop-up before device name on USB; on BLE the name test holds and has no room for its fields.
        { "a55a075402540b", Kind::PopUpState, false, Kind::DeviceName, true },
        // On USB only reports starting A5 5A are replies; BLE looks anywhere.
        { "00540b0102ff", Kind::None, false, Kind::DeviceName, true },
        { "00a55a070b0102", Kind::None, false, Kind::Firmware, false },
        // Too short for the fields the reply carries.
        { "a55a085404", Kind::Dpi, true, Kind::Dpi, true },
        { "a55a08540458", Kind::Dpi, true, Kind::Dpi, true },
        { "a55a075402", Kind::PopUpState, true, Kind::PopUpState, true },
        { "a55a070b01", Kind::Firmware, true, Kind::Firmware, true },
        { "a55a06540bff", Kind::DeviceName, true, Kind::DeviceName, true },
        { "a55a0954067201", Kind::Battery, false, Kind::Battery, false },
        { "a55a09540672", Kind::Battery, true, Kind::Battery, true },
        { "a55a0c5406a1b2c3d4e5f6", Kind::Serial, true, Kind::Serial, true },
        { "a55a145406a1b2c3d4e5f60000000000000004", Kind::SerialAndLink, true, Kind::SerialAndLink, true },
        // Audio: 9D 01 on USB; on BLE a 9D notification of at least 244 bytes (not this one).
        { "9d0100", Kind::Audio, false, Kind::None, false },
        { "", Kind::None, false, Kind::None, false },
    };
    for (const RecognitionCase& c : cases) {
        const QByteArray bytes = hex(c.bytes);
        const DeviceReplyFrame u = usb(bytes);
        const DeviceReplyFrame b = ble(bytes);
        EXPECT_STREQ(kindName(u.kind), kindName(c.usbKind)) << "USB " << c.bytes;
        EXPECT_EQ(u.tooShort, c.usbTooShort) << "USB " << c.bytes;
        EXPECT_STREQ(kindName(b.kind), kindName(c.bleKind)) << "BLE " << c.bytes;
        EXPECT_EQ(b.tooShort, c.bleTooShort) << "BLE " << c.bytes;
    }
}

TEST(DeviceReplyFrameTest, BleAudioPacketsNeedTheWholePacket)
{
    QByteArray packet(244, '\0');
    packet[0] = char(0x9D);
    packet[1] = 0x01;
    EXPECT_EQ(ble(packet).kind, Kind::Audio);
    EXPECT_EQ(ble(packet.left(243)).kind, Kind::None);
}

// The USB link tells replies from audio by the report's first bytes alone; only
// a reply's first 32 bytes are searched for its marker.
TEST(DeviceReplyFrameTest, UsbReportsAreSortedByTheirFirstWholeBytes)
{
    QByteArray audio(64, '\x5A');
    audio[0] = char(0x9D);
    audio[1] = 0x01;
    // Status 05's marker in bytes 32 and 33, out of the USB link's sight.
    QByteArray lateMarker = hex("a55a0554ee") + QByteArray(27, '\0') + hex("5405");
    const struct {
        QByteArray report;
        Kind usbKind;
    } cases[] = {
        { hex("9d"), Kind::None },
        { hex("9d00"), Kind::None },
        { hex("9d01"), Kind::Audio },
        { audio, Kind::Audio },
        { hex("a5"), Kind::None },
        { hex("5aa55a055405"), Kind::None },
        { hex("0a55a0"), Kind::None },
        { lateMarker, Kind::None },
        { lateMarker.left(30) + hex("5405"), Kind::Status05 },
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(kindName(usb(c.report).kind), kindName(c.usbKind)) << c.report.toHex().constData();
    }
    EXPECT_EQ(ble(lateMarker).kind, Kind::Status05);
}

TEST(DeviceReplyFrameTest, FieldsOfEachReply)
{
    EXPECT_EQ(usb(hex("a55a0854045802")).dpi, 600);
    EXPECT_EQ(DeviceReplyFrame::dpiLevel(usb(hex("a55a0854045802")).dpi), 0u);
    EXPECT_EQ(DeviceReplyFrame::dpiLevel(usb(hex("a55a0854041405")).dpi), 3u);

    const struct {
        const char* report;
        quint64 state;
    } popUps[] = { { "a55a07540200", 0 }, { "a55a07540201", 1 }, { "a55a07540210", 10 },
        { "a55a0754021a", 1 }, { "a55a075402a1", 0 } };
    for (const auto& c : popUps)
        EXPECT_EQ(usb(hex(c.report)).popUpState, c.state) << c.report;

    // Firmware bytes are read as their hex digits in decimal; the device-name bytes as plain numbers.
    const struct {
        const char* report;
        const char* version;
    } versions[] = { { "a55a070b010a", "1.0" }, { "a55a070b0102", "1.2" }, { "a55a070b1001", "10.1" },
        { "a55a070b1aa1", "1.0" }, { "a55a08540b010aff", "1.10" }, { "a55a08540b1000ff", "16.0" } };
    for (const auto& c : versions)
        EXPECT_EQ(usb(hex(c.report)).firmwareVersion, QString::fromLatin1(c.version)) << c.report;

    const DeviceReplyFrame battery = usb(hex("a55a09540672010000"));
    EXPECT_EQ(battery.batteryLow, 0x72);
    EXPECT_EQ(battery.batteryHigh, 0x01);

    const DeviceReplyFrame serial = usb(hex("a55a0c5406a1b2c3d4e5f600"));
    EXPECT_EQ(serial.serial, QStringLiteral("A1B2C3D4E5F6"));
    const DeviceReplyFrame link = ble(hex("a55a145406a1b2c3d4e5f600000000000000fa00"));
    EXPECT_EQ(link.serial, QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(link.linkText, QStringLiteral("FA"));
}

TEST(DeviceReplyFrameTest, DeviceNameRunStopsAtTheFirstTerminatorAndAtTheBytesInspected)
{
    const DeviceReplyFrame named = ble(hex("a55a10540b") + "KZ45 M" + hex("0203ff") + "tail" + hex("ff"));
    EXPECT_EQ(named.deviceName, QByteArray("KZ45 M"));
    EXPECT_EQ(named.firmwareVersion, QStringLiteral("2.3"));

    // USB looks at 32 bytes only: with the terminator beyond them the run ends at byte 31,
    // whose last three bytes are taken as major, minor and terminator.
    QByteArray longName
        = hex("a55a30540b") + QByteArray(24, 'N') + hex("0506") + QByteArray(1, 'X') + hex("0708ff");
    const DeviceReplyFrame cut = usb(longName);
    EXPECT_EQ(cut.deviceName, QByteArray(24, 'N'));
    EXPECT_EQ(cut.firmwareVersion, QStringLiteral("5.6"));
    // BLE sees the whole notification.
    const DeviceReplyFrame whole = ble(longName);
    EXPECT_EQ(whole.deviceName, QByteArray(24, 'N') + hex("0506") + "X");
    EXPECT_EQ(whole.firmwareVersion, QStringLiteral("7.8"));
}

TEST(DeviceReplyFrameTest, ModelFromTheDeviceName)
{
    const struct {
        const char* name;
        quint64 model;
    } cases[] = { { "KZ31", 1 }, { "xKZ32", 2 }, { "KZ43 Pro", 3 }, { "KZ45", 4 }, { "KZ7", 5 },
        { "KZ7 KZ31", 1 }, { "KZ45KZ32", 2 }, { "Mouse", 1 }, { "", 1 } };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceReplyFrame::modelForName(QByteArray(c.name)), c.model) << c.name;
}

TEST(DeviceReplyFrameTest, LeadingDecimal)
{
    EXPECT_EQ(DeviceReplyFrame::leadingDecimal(QStringLiteral("04")), 4u);
    EXPECT_EQ(DeviceReplyFrame::leadingDecimal(QStringLiteral("1A")), 1u);
    EXPECT_EQ(DeviceReplyFrame::leadingDecimal(QStringLiteral("A1")), 0u);
    EXPECT_EQ(
        DeviceReplyFrame::leadingDecimal(QStringLiteral("99999999999999999999999")), 9999999999999999999u);
}

} // namespace
