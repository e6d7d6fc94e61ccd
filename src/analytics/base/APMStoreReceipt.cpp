#include "analytics/base/APMStoreReceipt.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"

#include <QFile>
#include <QFileInfo>

#include <array>

namespace store_receipt {

constexpr char kWildcard = char(0xFF);
constexpr quint8 kSequenceTag = 0x30;
constexpr quint8 kUTF8StringTag = 0x0C;
// The largest receipt file read.
constexpr qint64 kMaxReceiptBytes = 4 * 1024 * 1024;

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray result;
    for (quint8 b : list)
        result.append(char(b));
    return result;
}

// 30 .. 02 01 13 02 01 .. 04 ..  (receipt field 19, the original version)
const QByteArray& versionPattern()
{
    static const QByteArray pattern = bytes({ 0x30, 0xFF, 0x02, 0x01, 0x13, 0x02, 0x01, 0xFF, 0x04, 0xFF });
    return pattern;
}

// 02 01 11 02 01 .. 04  (receipt field 17, one in-app purchase record)
const QByteArray& recordStartPattern()
{
    static const QByteArray pattern = bytes({ 0x02, 0x01, 0x11, 0x02, 0x01, 0xFF, 0x04 });
    return pattern;
}

enum class FieldKind { UTF8, IA5, Integer };

struct FieldSpec {
    int type; // the receipt field type, 0x06XX
    FieldKind kind;
};

// In the order the scan tries them.
constexpr std::array<FieldSpec, 11> kFields { {
    { 1702, FieldKind::UTF8 },
    { 1703, FieldKind::UTF8 },
    { 1705, FieldKind::UTF8 },
    { 1708, FieldKind::IA5 },
    { 1713, FieldKind::Integer },
    { 1719, FieldKind::Integer },
    { 1707, FieldKind::Integer },
    { 1711, FieldKind::Integer },
    { 1704, FieldKind::IA5 },
    { 1706, FieldKind::IA5 },
    { 1712, FieldKind::IA5 },
} };

// 02 02 06 T 02 01 .. 04 .. V ..
QByteArray fieldPattern(const FieldSpec& field)
{
    const quint8 tag = field.kind == FieldKind::UTF8 ? 0x0C : field.kind == FieldKind::IA5 ? 0x16 : 0x02;
    return bytes({ 0x02, 0x02, 0x06, quint8(field.type & 0xFF), 0x02, 0x01, 0xFF, 0x04, 0xFF, tag, 0xFF });
}

const std::array<QByteArray, 11>& fieldPatterns()
{
    static const std::array<QByteArray, 11> patterns = [] {
        std::array<QByteArray, 11> made;
        for (size_t i = 0; i < kFields.size(); ++i)
            made[i] = fieldPattern(kFields[i]);
        return made;
    }();
    return patterns;
}

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

// The one-byte flag fields: 0 and 1, anything else false (logged).
bool flagValue(const QByteArray& value, qint64 code, const QString& message)
{
    const quint8 byte = quint8(value.at(0));
    if (byte > 1)
        monitor().logWithLevel(APMMonitor::kLevelWarningSilent, code, message, int(byte));
    return byte == 1;
}

// Sets the field on the item; false when the value does not fit the field
// (then the field counts as not found and may match later).
bool applyField(APMInAppPurchaseItem& item, int type, const QByteArray& value)
{
    switch (type) {
    case 1702:
        item.setProductID(QString::fromUtf8(value));
        return true;
    case 1703:
        item.setTransactionID(QString::fromUtf8(value));
        return true;
    case 1705:
        item.setOriginalTransactionID(QString::fromUtf8(value));
        return true;
    case 1708:
        item.setSubscriptionExpirationDateIA5String(QString::fromLatin1(value));
        return true;
    case 1704:
        item.setPurchaseDateIA5String(QString::fromLatin1(value));
        return true;
    case 1706:
        item.setOriginalPurchaseDateIA5String(QString::fromLatin1(value));
        return true;
    case 1712:
        item.setCancellationDateIA5String(QString::fromLatin1(value));
        return true;
    case 1713:
        if (value.size() != 1)
            return false;
        item.setFreeTrial(flagValue(value, 39025, QStringLiteral("Subdata FT unexpected value")));
        return true;
    case 1719:
        if (value.size() != 1)
            return false;
        item.setIntroductoryOffer(flagValue(value, 39028, QStringLiteral("Subdata IO unexpected value")));
        return true;
    case 1707:
        if (value.size() != 1)
            return false;
        item.setPurchaseType(int(quint8(value.at(0))));
        return true;
    case 1711:
        if (const qint64 id = apm_64LeastSignificantBits(value); id != 0)
            item.setWebOrderLineItemID(quint64(id));
        return true;
    default:
        return false;
    }
}

// The DER length at `at` (after the tag): its value and where the content
// starts; -1 for the indefinite form; nothing when it does not fit.
std::optional<std::pair<qint64, qsizetype>> derLength(const QByteArray& data, qsizetype at)
{
    if (at >= data.size())
        return std::nullopt;
    const quint8 first = quint8(data.at(at));
    if (first < 0x80)
        return std::make_pair(qint64(first), at + 1);
    if (first == 0x80)
        return std::make_pair(qint64(-1), at + 1);
    const int count = first & 0x7F;
    if (count > 4 || at + 1 + count > data.size())
        return std::nullopt;
    qint64 length = 0;
    for (int i = 0; i < count; ++i)
        length = (length << 8) | quint8(data.at(at + 1 + i));
    return std::make_pair(length, at + 1 + count);
}

} // namespace store_receipt

namespace APMStoreReceipt {

std::optional<QByteArray> receiptDataMatchingPattern(const QByteArray& pattern, const QByteArray& data, qsizetype offset)
{
    if (offset < 0 || data.isEmpty() || pattern.isEmpty() || offset >= data.size()
        || pattern.size() >= data.size() - offset)
        return std::nullopt;
    bool captured = false;
    quint8 length = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const char byte = data.at(offset + i);
        if (pattern.at(i) == store_receipt::kWildcard) {
            captured = true;
            length = quint8(byte);
        } else if (pattern.at(i) != byte) {
            return std::nullopt;
        }
    }
    if (!captured || length == 0)
        return std::nullopt;
    const qsizetype start = offset + pattern.size();
    if (length > data.size() - start)
        return std::nullopt;
    if (length >= 128)
        store_receipt::monitor().logWithLevel(
            APMMonitor::kLevelWarningSilent, 39027, QStringLiteral("Data is longer than 127"));
    return data.mid(start, length);
}

std::optional<QByteArray> receiptInAppRecordStart(const QByteArray& data, qsizetype offset)
{
    return receiptDataMatchingPattern(store_receipt::recordStartPattern(), data, offset);
}

bool receiptIsWellFormed(const QByteArray& data)
{
    if (data.isEmpty() || quint8(data.at(0)) != store_receipt::kSequenceTag)
        return false;
    const auto length = store_receipt::derLength(data, 1);
    if (!length)
        return false;
    const auto [declared, content] = *length;
    if (declared < 0)
        return data.size() >= content + 2 && data.endsWith(QByteArray(2, '\0'));
    return declared <= data.size() - content;
}

std::optional<QList<APMInAppPurchaseItem>> receiptInAppPurchaseItems(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    QList<APMInAppPurchaseItem> items;
    if (!receiptIsWellFormed(data))
        return items;
    const auto& patterns = store_receipt::fieldPatterns();
    std::optional<APMInAppPurchaseItem> current;
    std::array<bool, store_receipt::kFields.size()> found {};
    for (qsizetype offset = 0; offset < data.size(); ++offset) {
        if (const std::optional<QByteArray> start = receiptInAppRecordStart(data, offset)) {
            if (current && !current->productID().isEmpty())
                items.append(*current);
            current = APMInAppPurchaseItem();
            found.fill(false);
            offset += start->size();
            continue;
        }
        if (!current)
            continue;
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (found[i])
                continue;
            const std::optional<QByteArray> value = receiptDataMatchingPattern(patterns[i], data, offset);
            if (!value || !store_receipt::applyField(*current, store_receipt::kFields[i].type, *value))
                continue;
            found[i] = true;
            offset += value->size();
            break;
        }
    }
    // The last record stays even without a product identifier.
    if (current)
        items.append(*current);
    return items;
}

bool receiptOriginalVersionMatchesVersion(const QByteArray& data, const QString& version)
{
    APMMonitor& monitor = store_receipt::monitor();
    if (data.isEmpty()) {
        monitor.logWithLevel(APMMonitor::kLevelWarningSilent, 39004, QStringLiteral("Version data is empty"));
        return false;
    }
    std::optional<QByteArray> value;
    if (receiptIsWellFormed(data)) {
        for (qsizetype offset = 0; offset < data.size() && !value; ++offset)
            value = receiptDataMatchingPattern(store_receipt::versionPattern(), data, offset);
    }
    if (!value || value->size() <= 2) {
        monitor.logWithLevel(APMMonitor::kLevelWarningSilent, 39006, QStringLiteral("V data is too short. Length"),
            value ? value->size() : 0);
        return false;
    }
    if (quint8(value->at(0)) != store_receipt::kUTF8StringTag)
        monitor.logWithLevel(
            APMMonitor::kLevelWarningSilent, 39007, QStringLiteral("V data byte 0 is wrong. Value"), int(quint8(value->at(0))));
    if (quint8(value->at(1)) != value->size() - 2)
        monitor.logWithLevel(APMMonitor::kLevelWarningSilent, 39008,
            QStringLiteral("V data byte 1 is wrong. Value, expected"), int(quint8(value->at(1))), value->size() - 2);
    return QString::fromUtf8(value->mid(2)) == version;
}

std::optional<QByteArray> readReceipt()
{
    const QString path = APMAEU::appStoreRURL();
    if (path.isEmpty())
        return std::nullopt;
    // The path comes from the environment: a device, a pipe or a huge file
    // must not hang the worker queue or fill memory. A receipt is a few
    // kilobytes; anything over the cap is not one. Opening a pipe blocks
    // until a writer comes, so the kind of file is checked before the open.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > store_receipt::kMaxReceiptBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return std::nullopt;
    QByteArray data = file.read(store_receipt::kMaxReceiptBytes + 1);
    if (data.size() > store_receipt::kMaxReceiptBytes)
        return std::nullopt;
    return data;
}

bool receiptFileOriginalVersionMatches(const QString& version)
{
    if (APMAEU::isNOD() || APMAEU::isASRS())
        return true;
    const std::optional<QByteArray> data = readReceipt();
    if (!data) {
        store_receipt::monitor().logWithLevel(
            APMMonitor::kLevelWarningSilent, 39002, QStringLiteral("Version data is nil"));
        return false;
    }
    return receiptOriginalVersionMatchesVersion(*data, version);
}

} // namespace APMStoreReceipt
