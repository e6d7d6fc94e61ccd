#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Reads the binary property-list form ("bplist00") into the same kinds the
// XML reader gives: booleans, integers (1 to 16 bytes; only values that fit a
// qlonglong), reals (4 or 8 bytes), dates (whole seconds, UTC), data, ASCII
// and UTF-16 strings, arrays and dictionaries with string keys. Nulls, sets
// and UIDs have no counterpart and are refused.
//
// The bytes come from outside, so every offset, count and reference is
// checked against the file before it is followed: cycles, references out of
// range, counts larger than the file, nesting deeper than
// PropertyListCodec::kMaxDepth and shared containers that would unfold into
// more values than the file has bytes are all refused with a reason.
class BinaryPropertyListReader {
public:
    static bool isBinary(const QByteArray& bytes);
    static std::optional<QVariant> read(const QByteArray& bytes, QString* error = nullptr);
};

} // namespace platform
