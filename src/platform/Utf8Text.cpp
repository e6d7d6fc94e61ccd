#include "platform/Utf8Text.h"

#include <QStringDecoder>

namespace platform {
namespace {

// ConvertInitialBom: hand a leading U+FEFF over as a character instead of
// taking it for a byte-order mark.
constexpr auto kExact = QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;

} // namespace

QString Utf8Text::decode(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, kExact);
    return decoder.decode(bytes);
}

std::optional<QString> Utf8Text::decodeStrict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, kExact);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace platform
