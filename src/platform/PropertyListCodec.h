#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Property lists to and from QVariant: written as XML (the Apple DTD, version
// 1.0), read from XML or from the binary form ("bplist00").
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
    // Base64, nesting deeper than kMaxDepth, or any value toXml() would
    // refuse (a lone surrogate, a character XML 1.0 cannot hold, a date
    // outside the years 1 to 9999): what is read can always be written back.
    static std::optional<QVariant> fromXml(const QByteArray& xml, QString* error = nullptr);
    // Either form: binary when the bytes start with "bplist00", XML
    // otherwise. The same values are refused as by fromXml().
    static std::optional<QVariant> fromData(const QByteArray& bytes, QString* error = nullptr);
};

} // namespace platform
