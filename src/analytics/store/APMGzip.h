#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// gzip (RFC 1952) compression of whole byte arrays over zlib, for data kept
// compressed on disk. Both directions answer an empty array on failure and
// then give the reason in the optional out-parameter.
class APMGzip {
public:
    // Inflating stops with a failure beyond this many bytes, so a damaged or
    // hostile stream cannot exhaust memory.
    static constexpr qint64 kMaxInflatedSize = 64 * 1024 * 1024;

    // One gzip member holding the data, at zlib's default level.
    static QByteArray dataByGzippingData(const QByteArray& data, QString* errorDescription);
    // The data of one complete gzip member. A truncated member, a bad
    // checksum, bytes after the member or an output above kMaxInflatedSize
    // fail. A member of empty data inflates to an empty array without a
    // reason.
    static QByteArray dataByInflatingGzippedData(const QByteArray& data, QString* errorDescription);
};
