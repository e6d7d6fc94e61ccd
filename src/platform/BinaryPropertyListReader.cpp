#include "platform/BinaryPropertyListReader.h"

#include "platform/PropertyListCodec.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace platform {
namespace {

constexpr char kMagic[] = "bplist00";
constexpr quint64 kHeaderSize = 8;
constexpr quint64 kTrailerSize = 32;
// Dates count seconds from 2001-01-01T00:00:00Z.
constexpr qint64 kSecondsFrom1970To2001 = 978307200;
// Far beyond the years 1 to 9999 either way, and small enough that the
// conversion to whole seconds cannot overflow.
constexpr double kLargestDateSeconds = 1e12;
constexpr quint64 kLargestInteger = quint64(std::numeric_limits<qlonglong>::max());

enum Kind : quint8 {
    kSimple = 0x0,
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAsciiString = 0x5,
    kUtf16String = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kSet = 0xC,
    kDictionary = 0xD,
};

class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : data_(reinterpret_cast<const uchar*>(bytes.constData()))
        , size_(quint64(bytes.size()))
        , budget_(size_)
    {
    }

    std::optional<QVariant> read(QString* error)
    {
        std::optional<QVariant> value;
        if (readTrailer())
            value = object(top_, 0);
        if (!value && error)
            *error = QStringLiteral("binary property list: %1").arg(error_);
        return value;
    }

private:
    std::nullopt_t failed(const QString& text)
    {
        if (error_.isEmpty())
            error_ = text;
        return std::nullopt;
    }
    bool fail(const QString& text)
    {
        failed(text);
        return false;
    }

    // Big-endian unsigned number of 1 to 8 bytes; the caller checked bounds.
    quint64 number(quint64 at, unsigned width) const
    {
        quint64 v = 0;
        for (unsigned i = 0; i < width; ++i)
            v = (v << 8) | data_[at + i];
        return v;
    }

    // True when n bytes from `at` lie within the object area.
    bool fits(quint64 at, quint64 n) const { return at <= objectsEnd_ && n <= objectsEnd_ - at; }

    bool readTrailer()
    {
        if (size_ < kHeaderSize + kTrailerSize)
            return fail(QStringLiteral("too short"));
        const quint64 t = size_ - kTrailerSize;
        offsetSize_ = data_[t + 6];
        refSize_ = data_[t + 7];
        objectCount_ = number(t + 8, 8);
        top_ = number(t + 16, 8);
        const quint64 tableAt = number(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            return fail(QStringLiteral("offset size %1 or reference size %2 is not 1 to 8 bytes")
                            .arg(offsetSize_)
                            .arg(refSize_));
        if (tableAt < kHeaderSize || tableAt > t)
            return fail(QStringLiteral("the offset table lies outside the file"));
        if (objectCount_ == 0 || objectCount_ > (t - tableAt) / offsetSize_)
            return fail(QStringLiteral("%1 objects do not fit the offset table").arg(objectCount_));
        if (top_ >= objectCount_)
            return fail(QStringLiteral("the top object %1 does not exist").arg(top_));
        tableAt_ = tableAt;
        objectsEnd_ = tableAt;
        open_.assign(objectCount_, false);
        return true;
    }

    // The count in the marker's low four bits, or for 15 the integer object
    // that follows the marker. Moves `at` past what it read.
    std::optional<quint64> count(quint8 low, quint64& at)
    {
        if (low != 0xF)
            return low;
        if (!fits(at, 1))
            return failed(QStringLiteral("a count runs past the objects"));
        const quint8 marker = data_[at];
        if (marker >> 4 != kInteger || (marker & 0xF) > 3)
            return failed(QStringLiteral("a count is not a 1 to 8 byte integer"));
        const unsigned width = 1u << (marker & 0xF);
        if (!fits(at + 1, width))
            return failed(QStringLiteral("a count runs past the objects"));
        const quint64 n = number(at + 1, width);
        at += 1 + width;
        return n;
    }

    // The object a reference points at; `at` was checked to hold it.
    std::optional<quint64> reference(quint64 at)
    {
        const quint64 index = number(at, refSize_);
        if (index >= objectCount_)
            return failed(QStringLiteral("reference %1 to a missing object").arg(index));
        return index;
    }

    std::optional<QVariant> object(quint64 index, int depth)
    {
        // Each value unfolded costs one byte of the file: references cost at
        // least a byte each, so only shared containers can run out.
        if (budget_ == 0)
            return failed(QStringLiteral("shared containers unfold into more values than the file holds"));
        --budget_;
        const quint64 offset = number(tableAt_ + index * offsetSize_, offsetSize_);
        if (offset < kHeaderSize || offset >= objectsEnd_)
            return failed(QStringLiteral("object %1 lies outside the file").arg(index));
        const quint8 marker = data_[offset];
        const quint8 low = marker & 0xF;
        quint64 at = offset + 1;
        switch (marker >> 4) {
        case kSimple:
            if (low == 0x8 || low == 0x9)
                return QVariant(low == 0x9);
            return failed(QStringLiteral("marker 0x%1 has no property-list kind")
                              .arg(uint(marker), 2, 16, QLatin1Char('0')));
        case kInteger:
            return integer(low, at);
        case kReal:
            return real(low, at);
        case kDate:
            return date(low, at);
        case kData: {
            const auto n = count(low, at);
            if (!n)
                return std::nullopt;
            if (!fits(at, *n))
                return failed(QStringLiteral("data of %1 bytes runs past the objects").arg(*n));
            return QVariant(QByteArray(reinterpret_cast<const char*>(data_ + at), qsizetype(*n)));
        }
        case kAsciiString:
            return asciiString(low, at);
        case kUtf16String:
            return utf16String(low, at);
        case kUid:
            return failed(QStringLiteral("UIDs are not supported"));
        case kSet:
            return failed(QStringLiteral("sets are not supported"));
        case kArray:
        case kDictionary:
            if (depth >= PropertyListCodec::kMaxDepth)
                return failed(
                    QStringLiteral("nesting deeper than %1 levels").arg(PropertyListCodec::kMaxDepth));
            if (open_[index])
                return failed(QStringLiteral("object %1 contains itself").arg(index));
            open_[index] = true;
            {
                auto value
                    = marker >> 4 == kArray ? array(low, at, depth + 1) : dictionary(low, at, depth + 1);
                open_[index] = false;
                return value;
            }
        default:
            return failed(QStringLiteral("unknown marker 0x%1").arg(uint(marker), 2, 16, QLatin1Char('0')));
        }
    }

    std::optional<QVariant> integer(quint8 low, quint64 at)
    {
        if (low > 4)
            return failed(QStringLiteral("an integer of 2^%1 bytes").arg(low));
        const unsigned width = 1u << low;
        if (!fits(at, width))
            return failed(QStringLiteral("an integer runs past the objects"));
        if (width < 8) // 1, 2 and 4 bytes are unsigned
            return QVariant(qlonglong(number(at, width)));
        if (width == 8) // two's complement
            return QVariant(std::bit_cast<qlonglong>(number(at, 8)));
        // 16 bytes, two's complement: only values a qlonglong holds, which
        // is what the writer accepts.
        const quint64 high = number(at, 8);
        const quint64 lowHalf = number(at + 8, 8);
        const bool positive = high == 0 && lowHalf <= kLargestInteger;
        const bool negative = high == ~quint64(0) && lowHalf > kLargestInteger;
        if (!positive && !negative)
            return failed(QStringLiteral("a 16-byte integer outside the 64-bit range"));
        return QVariant(std::bit_cast<qlonglong>(lowHalf));
    }

    std::optional<QVariant> real(quint8 low, quint64 at)
    {
        if (low == 2 && fits(at, 4))
            return QVariant(double(std::bit_cast<float>(quint32(number(at, 4)))));
        if (low == 3 && fits(at, 8))
            return QVariant(std::bit_cast<double>(number(at, 8)));
        return failed(QStringLiteral("a real that is not 4 or 8 bytes within the objects"));
    }

    std::optional<QVariant> date(quint8 low, quint64 at)
    {
        if (low != 3 || !fits(at, 8))
            return failed(QStringLiteral("a date that is not 8 bytes within the objects"));
        const double seconds = std::bit_cast<double>(number(at, 8));
        if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestDateSeconds)
            return failed(QStringLiteral("a date beyond any calendar"));
        // Whole seconds, as in the XML form, so a date does not change when
        // it is written back.
        const qint64 whole = qint64(std::floor(seconds));
        return QVariant(QDateTime::fromSecsSinceEpoch(whole + kSecondsFrom1970To2001, Qt::UTC));
    }

    std::optional<QVariant> asciiString(quint8 low, quint64 at)
    {
        const auto n = count(low, at);
        if (!n)
            return std::nullopt;
        if (!fits(at, *n))
            return failed(QStringLiteral("a string of %1 characters runs past the objects").arg(*n));
        const char* text = reinterpret_cast<const char*>(data_ + at);
        for (quint64 i = 0; i < *n; ++i) {
            if (uchar(text[i]) > 0x7F)
                return failed(QStringLiteral("an ASCII string holds byte 0x%1")
                                  .arg(uint(uchar(text[i])), 2, 16, QLatin1Char('0')));
        }
        return QVariant(QString::fromLatin1(text, qsizetype(*n)));
    }

    std::optional<QVariant> utf16String(quint8 low, quint64 at)
    {
        const auto n = count(low, at);
        if (!n)
            return std::nullopt;
        if (*n > (objectsEnd_ - at) / 2)
            return failed(QStringLiteral("a string of %1 characters runs past the objects").arg(*n));
        QString text(qsizetype(*n), Qt::Uninitialized);
        for (quint64 i = 0; i < *n; ++i)
            text[qsizetype(i)] = QChar(char16_t(number(at + 2 * i, 2)));
        return QVariant(text); // unpaired surrogates are refused with the writer's rules
    }

    std::optional<QVariant> array(quint8 low, quint64 at, int depth)
    {
        const auto n = count(low, at);
        if (!n)
            return std::nullopt;
        if (*n > (objectsEnd_ - at) / refSize_)
            return failed(QStringLiteral("an array of %1 items runs past the objects").arg(*n));
        QVariantList list;
        list.reserve(qsizetype(*n));
        for (quint64 i = 0; i < *n; ++i) {
            const auto ref = reference(at + i * refSize_);
            if (!ref)
                return std::nullopt;
            auto item = object(*ref, depth);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
        return QVariant(list);
    }

    std::optional<QVariant> dictionary(quint8 low, quint64 at, int depth)
    {
        const auto n = count(low, at);
        if (!n)
            return std::nullopt;
        if (*n > (objectsEnd_ - at) / refSize_ / 2)
            return failed(QStringLiteral("a dictionary of %1 entries runs past the objects").arg(*n));
        const quint64 valuesAt = at + *n * refSize_;
        QVariantMap map;
        for (quint64 i = 0; i < *n; ++i) {
            const auto keyRef = reference(at + i * refSize_);
            const auto valueRef = keyRef ? reference(valuesAt + i * refSize_) : std::nullopt;
            if (!valueRef)
                return std::nullopt;
            auto key = object(*keyRef, depth);
            if (!key)
                return std::nullopt;
            if (key->metaType().id() != QMetaType::QString)
                return failed(QStringLiteral("a dictionary key that is not a string"));
            auto value = object(*valueRef, depth);
            if (!value)
                return std::nullopt;
            map.insert(key->toString(), std::move(*value)); // a repeated key: the last one wins
        }
        return QVariant(map);
    }

    const uchar* data_;
    quint64 size_;
    quint64 budget_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    quint64 objectCount_ = 0;
    quint64 top_ = 0;
    quint64 tableAt_ = 0;
    quint64 objectsEnd_ = 0;
    std::vector<bool> open_; // containers being read; meeting one again is a cycle
    QString error_;
};

} // namespace

bool BinaryPropertyListReader::isBinary(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArrayView(kMagic, sizeof kMagic - 1));
}

std::optional<QVariant> BinaryPropertyListReader::read(const QByteArray& bytes, QString* error)
{
    if (!isBinary(bytes)) {
        if (error)
            *error = QStringLiteral("binary property list: no \"bplist00\" header");
        return std::nullopt;
    }
    return Reader(bytes).read(error);
}

} // namespace platform
