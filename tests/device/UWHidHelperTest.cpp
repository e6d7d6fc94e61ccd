#include "device/UWHidHelper.h"

#include <QVariantList>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace {

QByteArray helperHex(const char* text)
{
    return QByteArray::fromHex(text);
}

struct FrameCase {
    const char* name;
    QByteArray built;
    const char* expected;
};

// Every command frame on both links, byte for byte.
TEST(UWHidHelperTest, CommandFramesOnBothLinks)
{
    const UWHidHelper& ble = UWHidHelper::sharedManager();
    const FrameCase cases[] = {
        { "BLE get device info", ble.sendGetDeviceInfo(), "9da55a0601ff" },
        { "BLE pop-up on", ble.sendSetURLState(true), "9da55a070201000000ff" },
        { "BLE pop-up off", ble.sendSetURLState(false), "9da55a070200000000ff" },
        { "BLE microphone on", ble.sendOpenMicrophone(true), "9da55a070301ff" },
        { "BLE microphone off", ble.sendOpenMicrophone(false), "9da55a070300ff" },
        { "BLE battery", ble.sendGetdianchi(), "9da55a050a" },
        { "BLE name", ble.sendSetDeviceName(QStringLiteral("AB")), "9da55a07084142" },
        { "BLE download address", ble.sendSetDownURL(QStringLiteral("x")), "9da55a060978" },
        { "HID get device info", UWHidHelper::hidGetDeviceInfoReport(), "00a55a07520100ff" },
        { "HID pop-up on", UWHidHelper::hidPopUpWebsiteReport(true), "00a55a07520201000000ff" },
        { "HID pop-up off", UWHidHelper::hidPopUpWebsiteReport(false), "00a55a07520200000000ff" },
        { "HID microphone on", UWHidHelper::hidMicrophoneReport(true), "00a55a07520301ff" },
        { "HID microphone off", UWHidHelper::hidMicrophoneReport(false), "00a55a07520300ff" },
        { "HID battery", UWHidHelper::hidBatteryReport(), "9da55a050a" },
        { "HID name", UWHidHelper::hidDeviceNameReport(QStringLiteral("AB")), "9da55a07084142" },
        { "HID download address", UWHidHelper::hidDownloadUrlReport(QStringLiteral("x")), "9da55a060978" },
    };
    for (const FrameCase& c : cases)
        EXPECT_EQ(c.built.toHex(), helperHex(c.expected).toHex()) << c.name;
}

TEST(UWHidHelperTest, DpiLevelsDifferBetweenTheLinks)
{
    const struct {
        quint64 level;
        const char* hid;
        const char* ble;
    } cases[] = {
        { 0, "00a55a08520404b0ff", "9da55a08045802ff" },
        { 1, "00a55a0852042003ff", "9da55a08042003ff" },
        { 2, "00a55a085204e803ff", "9da55a0804e803ff" },
        { 3, "00a55a0852041405ff", "9da55a08041405ff" },
        { 4, "00a55a0852044006ff", "9da55a08044006ff" },
        { 5, "00a55a08520404b0ff", "9da55a08040000ff" },
        { 1000, "00a55a08520404b0ff", "9da55a08040000ff" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UWHidHelper::hidDpiReport(c.level).toHex(), helperHex(c.hid).toHex()) << c.level;
        EXPECT_EQ(UWHidHelper::sharedManager().sendSetDpiNum(c.level).toHex(), helperHex(c.ble).toHex()) << c.level;
    }
}

TEST(UWHidHelperTest, JsonPayloadsAndTheirLengthByte)
{
    EXPECT_EQ(UWHidHelper::jsonPayload(QStringLiteral("名")), QByteArray("\xE5\x90\x8D"));
    EXPECT_EQ(UWHidHelper::jsonPayload(QVariantMap { { "a", 1 } }), QByteArray("{\"a\":1}"));
    EXPECT_EQ(UWHidHelper::jsonPayload(QVariantList { 1, "b" }), QByteArray("[1,\"b\"]"));
    EXPECT_TRUE(UWHidHelper::jsonPayload(QVariant()).isEmpty());

    // The length byte is n + 5 taken modulo 256.
    const QByteArray long300(300, 'z');
    const QByteArray frame = UWHidHelper::hidDeviceNameReport(QString::fromLatin1(long300));
    ASSERT_EQ(frame.size(), 305);
    EXPECT_EQ(quint8(frame.at(3)), quint8((300 + 5) % 256));
    EXPECT_EQ(frame.mid(5), long300);
}

TEST(UWHidHelperTest, CustomLedTakesTheModeFromTheCallersList)
{
    QVariantList values { 3, 255, 1000, 19.9, 2570 };
    const std::optional<QByteArray> frame = UWHidHelper::hidCustomLedReport(values);
    ASSERT_TRUE(frame);
    // mode 03; 255/10 = 25, 1000/10 = 100, 19.9 -> 19 -> 1, 2570/10 = 257 -> low byte 01; n = 4.
    EXPECT_EQ(frame->toHex(), helperHex("9da55a090c0319640101ff").toHex());
    EXPECT_EQ(values, (QVariantList { 255, 1000, 19.9, 2570 }));

    QVariantList empty;
    EXPECT_FALSE(UWHidHelper::hidCustomLedReport(empty));

    // Values that are not finite numbers count as 0 rather than overflowing.
    QVariantList odd { 1e300, qQNaN(), "abc" };
    const std::optional<QByteArray> oddFrame = UWHidHelper::hidCustomLedReport(odd);
    ASSERT_TRUE(oddFrame);
    EXPECT_EQ(oddFrame->toHex(), helperHex("9da55a070c000000ff").toHex());
}

} // namespace
