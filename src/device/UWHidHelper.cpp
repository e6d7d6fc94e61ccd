#include "device/UWHidHelper.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

constexpr char kBleLead = char(0x9D);
constexpr char kNoReport = 0x00;
constexpr char kReceiverMarker = 0x52;
constexpr char kTerminator = char(0xFF);

enum Command : char {
    kGetDeviceInfo = 0x01,
    kPopUpWebsite = 0x02,
    kMicrophone = 0x03,
    kDpi = 0x04,
    kDeviceName = 0x08,
    kDownloadUrl = 0x09,
    kBattery = 0x0A,
    kCustomLed = 0x0C,
};

QByteArray frame(std::initializer_list<char> bytes)
{
    return QByteArray(bytes.begin(), qsizetype(bytes.size()));
}

// Resolution in DPI for a setting level, as the BLE frames carry it.
quint16 bleDpi(quint64 level)
{
    static constexpr quint16 kDpi[] = { 600, 800, 1000, 1300, 1600 };
    return level < std::size(kDpi) ? kDpi[level] : 0;
}

// The receiver's table: level 0 and anything past the last level send 04 B0.
QByteArray hidDpiBytes(quint64 level)
{
    switch (level) {
    case 1:
        return frame({ 0x20, 0x03 });
    case 2:
        return frame({ char(0xE8), 0x03 });
    case 3:
        return frame({ 0x14, 0x05 });
    case 4:
        return frame({ 0x40, 0x06 });
    default:
        return frame({ 0x04, char(0xB0) });
    }
}

// A JSON-payload frame: lead, A5 5A, n + 5 (mod 256), code, payload.
QByteArray payloadFrame(char code, const QByteArray& payload)
{
    QByteArray out = frame({ kBleLead, char(0xA5), 0x5A, char(quint8(payload.size() + 5)), code });
    return out + payload;
}

// The integer value of a number element, truncated; 0 for anything that
// is not a finite number within range.
qint64 integerValue(const QVariant& value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18)
        return 0;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return qint64(std::trunc(d));
    return value.toLongLong();
}

} // namespace

UWHidHelper& UWHidHelper::sharedManager()
{
    static UWHidHelper helper;
    return helper;
}

QByteArray UWHidHelper::sendGetDeviceInfo() const
{
    return frame({ kBleLead, char(0xA5), 0x5A, 0x06, kGetDeviceInfo, kTerminator });
}

QByteArray UWHidHelper::sendOpenMicrophone(bool on) const
{
    return frame({ kBleLead, char(0xA5), 0x5A, 0x07, kMicrophone, char(on ? 1 : 0), kTerminator });
}

QByteArray UWHidHelper::sendSetURLState(bool on) const
{
    // The length byte says 07 although the frame has 10 bytes; the mouse expects it so.
    return frame({ kBleLead, char(0xA5), 0x5A, 0x07, kPopUpWebsite, char(on ? 1 : 0), 0, 0, 0, kTerminator });
}

QByteArray UWHidHelper::sendSetDpiNum(quint64 level) const
{
    const quint16 dpi = bleDpi(level);
    return frame({ kBleLead, char(0xA5), 0x5A, 0x08, kDpi, char(dpi & 0xFF), char(dpi >> 8), kTerminator });
}

QByteArray UWHidHelper::sendGetdianchi() const
{
    return frame({ kBleLead, char(0xA5), 0x5A, 0x05, kBattery });
}

QByteArray UWHidHelper::sendSetDeviceName(const QVariant& name) const
{
    return payloadFrame(kDeviceName, jsonPayload(name));
}

QByteArray UWHidHelper::sendSetDownURL(const QVariant& url) const
{
    return payloadFrame(kDownloadUrl, jsonPayload(url));
}

QByteArray UWHidHelper::hidGetDeviceInfoReport()
{
    return frame({ kNoReport, char(0xA5), 0x5A, 0x07, kReceiverMarker, kGetDeviceInfo, 0x00, kTerminator });
}

QByteArray UWHidHelper::hidPopUpWebsiteReport(bool on)
{
    return frame({ kNoReport, char(0xA5), 0x5A, 0x07, kReceiverMarker, kPopUpWebsite, char(on ? 1 : 0), 0, 0,
        0, kTerminator });
}

QByteArray UWHidHelper::hidMicrophoneReport(bool on)
{
    return frame(
        { kNoReport, char(0xA5), 0x5A, 0x07, kReceiverMarker, kMicrophone, char(on ? 1 : 0), kTerminator });
}

QByteArray UWHidHelper::hidDpiReport(quint64 level)
{
    return frame({ kNoReport, char(0xA5), 0x5A, 0x08, kReceiverMarker, kDpi }) + hidDpiBytes(level)
        + QByteArray(1, kTerminator);
}

QByteArray UWHidHelper::hidBatteryReport()
{
    return frame({ kBleLead, char(0xA5), 0x5A, 0x05, kBattery });
}

QByteArray UWHidHelper::hidDeviceNameReport(const QVariant& name)
{
    return payloadFrame(kDeviceName, jsonPayload(name));
}

QByteArray UWHidHelper::hidDownloadUrlReport(const QVariant& url)
{
    return payloadFrame(kDownloadUrl, jsonPayload(url));
}

std::optional<QByteArray> UWHidHelper::hidCustomLedReport(QVariantList& values)
{
    if (values.isEmpty())
        return std::nullopt;
    const char mode = char(quint8(integerValue(values.takeFirst())));
    QByteArray out = frame({ kBleLead, char(0xA5), 0x5A, char(quint8(values.size() + 5)), kCustomLed, mode });
    for (const QVariant& value : values)
        out.append(char(quint8(integerValue(value) / 10)));
    out.append(kTerminator);
    return out;
}

QByteArray UWHidHelper::jsonPayload(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString().toUtf8();
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::QVariantMap:
        return QJsonDocument(QJsonObject::fromVariantMap(value.toMap())).toJson(QJsonDocument::Compact);
    case QMetaType::QVariantList:
        return QJsonDocument(QJsonArray::fromVariantList(value.toList())).toJson(QJsonDocument::Compact);
    default:
        return {};
    }
}
