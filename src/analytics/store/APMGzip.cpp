#include "analytics/store/APMGzip.h"

#include <algorithm>
#include <limits>
#include <zlib.h>

namespace {

// zlib counts in uInt; larger arrays are fed in pieces of this size.
constexpr qsizetype kMaxPiece = std::numeric_limits<uInt>::max();
constexpr int kGzipWindowBits = 15 + 16; // the largest window, with a gzip wrapper
constexpr qsizetype kInflateStep = 64 * 1024;

void setReason(QString* errorDescription, const QString& reason)
{
    if (errorDescription)
        *errorDescription = reason;
}

QString zlibReason(const char* what, int code, const z_stream& stream)
{
    const QString detail = stream.msg ? QString::fromLatin1(stream.msg) : QString::fromLatin1(zError(code));
    return QStringLiteral("%1 failed (%2): %3").arg(QLatin1String(what)).arg(code).arg(detail);
}

// Hands the stream the next piece of input once it has used up the last one.
void refill(z_stream& stream, const QByteArray& data, qsizetype& offset)
{
    if (stream.avail_in > 0 || offset >= data.size())
        return;
    const qsizetype piece = std::min(kMaxPiece, data.size() - offset);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + offset));
    stream.avail_in = static_cast<uInt>(piece);
    offset += piece;
}

} // namespace

QByteArray APMGzip::dataByGzippingData(const QByteArray& data, QString* errorDescription)
{
    z_stream stream {};
    int code
        = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) {
        setReason(errorDescription, zlibReason("deflateInit2", code, stream));
        return QByteArray();
    }
    // deflateBound covers the whole output, wrapper included, for one call sequence ending in Z_FINISH.
    const uLong bound = deflateBound(&stream, static_cast<uLong>(data.size()));
    if (bound > static_cast<uLong>(std::numeric_limits<qsizetype>::max() / 2)) {
        deflateEnd(&stream);
        setReason(errorDescription, QStringLiteral("Data too large to compress"));
        return QByteArray();
    }
    QByteArray out(static_cast<qsizetype>(bound), Qt::Uninitialized);
    qsizetype inputOffset = 0;
    qsizetype produced = 0;
    do {
        refill(stream, data, inputOffset);
        const qsizetype room = std::min(kMaxPiece, out.size() - produced);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        stream.avail_out = static_cast<uInt>(room);
        const bool lastInput = inputOffset >= data.size();
        code = deflate(&stream, lastInput ? Z_FINISH : Z_NO_FLUSH);
        produced += room - static_cast<qsizetype>(stream.avail_out);
        if (code == Z_STREAM_ERROR || (code == Z_BUF_ERROR && produced >= out.size())) {
            setReason(errorDescription, zlibReason("deflate", code, stream));
            deflateEnd(&stream);
            return QByteArray();
        }
    } while (code != Z_STREAM_END);
    deflateEnd(&stream);
    out.truncate(produced);
    return out;
}

QByteArray APMGzip::dataByInflatingGzippedData(const QByteArray& data, QString* errorDescription)
{
    if (data.isEmpty()) {
        setReason(errorDescription, QStringLiteral("No data to inflate"));
        return QByteArray();
    }
    z_stream stream {};
    int code = inflateInit2(&stream, kGzipWindowBits);
    if (code != Z_OK) {
        setReason(errorDescription, zlibReason("inflateInit2", code, stream));
        return QByteArray();
    }
    QByteArray out;
    qsizetype inputOffset = 0;
    qsizetype produced = 0;
    for (;;) {
        refill(stream, data, inputOffset);
        if (out.size() - produced == 0) {
            if (produced >= kMaxInflatedSize) {
                inflateEnd(&stream);
                setReason(
                    errorDescription, QStringLiteral("Inflated data exceeds %1 bytes").arg(kMaxInflatedSize));
                return QByteArray();
            }
            out.resize(std::min<qsizetype>(produced + std::max(kInflateStep, produced), kMaxInflatedSize));
        }
        const qsizetype room = std::min(kMaxPiece, out.size() - produced);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        stream.avail_out = static_cast<uInt>(room);
        const uInt inputBefore = stream.avail_in;
        code = inflate(&stream, Z_NO_FLUSH);
        const qsizetype made = room - static_cast<qsizetype>(stream.avail_out);
        produced += made;
        if (code == Z_STREAM_END)
            break;
        const bool inputLeft = stream.avail_in > 0 || inputOffset < data.size();
        const bool stalled = made == 0 && stream.avail_in == inputBefore;
        if (code == Z_OK && !(stalled && !inputLeft))
            continue;
        if (code == Z_BUF_ERROR && inputLeft)
            continue;
        // Out of input before the end of the member, or a damaged stream.
        const QString reason = (code == Z_OK || code == Z_BUF_ERROR)
            ? QStringLiteral("Gzipped data is truncated")
            : zlibReason("inflate", code, stream);
        inflateEnd(&stream);
        setReason(errorDescription, reason);
        return QByteArray();
    }
    const bool trailing = stream.avail_in > 0 || inputOffset < data.size();
    inflateEnd(&stream);
    if (trailing) {
        setReason(errorDescription, QStringLiteral("Unexpected data after the gzip member"));
        return QByteArray();
    }
    out.truncate(produced);
    return out;
}
