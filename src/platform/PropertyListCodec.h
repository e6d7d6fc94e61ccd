#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// XML property lists (the Apple DTD, version 1.0) to and from QVariant.
// Kinds map as: <true/>/<false/> bool, <integer> qlonglong, <real> double,
// <string> QString, <data> QByteArray (Base64), <date> QDateTime (UTC,
// ISO 8601 with "Z"), <array> QVariantList, <dict> QVariantMap.
// Values keep their kind both ways: an integer never comes back as a real.
class PropertyListCodec {
public:
    static constexpr int kMaxDepth = 100;

    // True when the value and everything nested in it has a plist kind
    // (other integer types and QStringList are accepted and converted).
    static bool isSupported(const QVariant& value, QString* error = nullptr);

    // Returns nothing when the value is not supported.
    static std::optional<QByteArray> toXml(const QVariant& value, QString* error = nullptr);
    // Returns nothing for malformed XML, unknown elements, bad numbers or
    // Base64, or nesting deeper than kMaxDepth.
    static std::optional<QVariant> fromXml(const QByteArray& xml, QString* error = nullptr);
};

} // namespace platform
