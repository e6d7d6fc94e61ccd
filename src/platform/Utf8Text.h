#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace platform {

// UTF-8 bytes from outside (files, databases, decoded Base64) read exactly as
// they are. QString::fromUtf8() and a QStringDecoder with default flags drop
// a leading byte-order mark, so a stored text that starts with U+FEFF would
// come back one character shorter; these keep it.
class Utf8Text {
public:
    // Malformed sequences become U+FFFD.
    static QString decode(QByteArrayView bytes);
    // Nothing when the bytes are not well-formed UTF-8.
    static std::optional<QString> decodeStrict(QByteArrayView bytes);
};

} // namespace platform
