#pragma once

// Store receipts built for tests: a DER sequence of attributes (each a
// sequence of type, version and an octet string), the original application
// version as attribute 19 and one attribute 17 per in-app purchase record,
// whose octet string holds a set of field attributes.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace receipt_test {

inline QByteArray derLength(qsizetype length)
{
    QByteArray out;
    if (length < 0x80) {
        out.append(char(length));
    } else if (length <= 0xFF) {
        out.append(char(0x81)).append(char(length));
    } else {
        out.append(char(0x82)).append(char(length >> 8)).append(char(length & 0xFF));
    }
    return out;
}

inline QByteArray tlv(quint8 tag, const QByteArray& content)
{
    return QByteArray(1, char(tag)) + derLength(content.size()) + content;
}

// The shortest two's-complement form of a non-negative number.
inline QByteArray derInteger(quint64 value)
{
    QByteArray bytes;
    do {
        bytes.prepend(char(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    if (quint8(bytes.at(0)) & 0x80)
        bytes.prepend('\0');
    return tlv(0x02, bytes);
}

inline QByteArray attribute(int type, const QByteArray& value, int version = 1)
{
    return tlv(0x30, derInteger(type) + derInteger(version) + tlv(0x04, value));
}

inline QByteArray utf8(const QString& text)
{
    return tlv(0x0C, text.toUtf8());
}

inline QByteArray ia5(const QString& text)
{
    return tlv(0x16, text.toLatin1());
}

struct Record {
    std::optional<QString> productID {};
    std::optional<QString> transactionID {};
    std::optional<QString> originalTransactionID {};
    std::optional<QString> purchaseDate {}; // "2024-03-01T10:00:00Z"
    std::optional<QString> originalPurchaseDate {};
    std::optional<QString> expirationDate {};
    std::optional<QString> cancellationDate {};
    std::optional<int> type {}; // 0 non-consumable ... 3 auto-renewable
    std::optional<int> freeTrial {}; // the raw one-byte value
    std::optional<int> introductoryOffer {};
    std::optional<quint64> webOrderLineItemID {};
};

inline QByteArray recordFields(const Record& r)
{
    QByteArray fields;
    const auto add = [&fields](int type, const QByteArray& value) { fields += attribute(type, value); };
    if (r.productID)
        add(1702, utf8(*r.productID));
    if (r.transactionID)
        add(1703, utf8(*r.transactionID));
    if (r.originalTransactionID)
        add(1705, utf8(*r.originalTransactionID));
    if (r.purchaseDate)
        add(1704, ia5(*r.purchaseDate));
    if (r.originalPurchaseDate)
        add(1706, ia5(*r.originalPurchaseDate));
    if (r.expirationDate)
        add(1708, ia5(*r.expirationDate));
    if (r.cancellationDate)
        add(1712, ia5(*r.cancellationDate));
    if (r.type)
        add(1707, derInteger(quint64(*r.type)));
    if (r.freeTrial)
        add(1713, derInteger(quint64(*r.freeTrial)));
    if (r.introductoryOffer)
        add(1719, derInteger(quint64(*r.introductoryOffer)));
    if (r.webOrderLineItemID)
        add(1711, derInteger(*r.webOrderLineItemID));
    return fields;
}

// One in-app purchase attribute; `rawFields` go in as given after the
// fields of the record.
inline QByteArray purchase(const Record& r, const QByteArray& rawFields = {})
{
    return attribute(17, tlv(0x31, recordFields(r) + rawFields));
}

inline QByteArray receipt(const QList<QByteArray>& purchases, const QString& originalVersion = QStringLiteral("1.0"))
{
    QByteArray body = attribute(2, utf8(QStringLiteral("com.example.pravik")));
    if (!originalVersion.isNull())
        body += attribute(19, utf8(originalVersion));
    for (const QByteArray& p : purchases)
        body += p;
    return tlv(0x30, body);
}

} // namespace receipt_test
