#include "analytics/wire/APMPBWireWriter.h"

#include "analytics/wire/APMPBFieldSlot.h"

#include <cstring>

namespace {

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireFixed64 = 1;
constexpr uint32_t kWireLengthDelimited = 2;

// A varint's bytes into out (room for ten); answers how many.
int varintBytes(uint64_t value, char* out)
{
    int count = 0;
    while (value >= 0x80) {
        out[count++] = char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out[count++] = char(value);
    return count;
}

} // namespace

void APMPBWireWriter::writeVarint(uint64_t value)
{
    char buffer[10];
    bytes_.append(buffer, varintBytes(value, buffer));
}

void APMPBWireWriter::writeTag(uint32_t number, uint32_t wireType)
{
    writeVarint((uint64_t(number) << 3) | wireType);
}

void APMPBWireWriter::writeInt64Field(uint32_t number, qint64 value)
{
    writeTag(number, kWireVarint);
    writeVarint(uint64_t(value));
}

void APMPBWireWriter::writeDoubleField(uint32_t number, double value)
{
    static_assert(sizeof(double) == 8, "a double is the wire's fixed 64 bits");
    writeTag(number, kWireFixed64);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char little[8];
    for (int i = 0; i < 8; ++i)
        little[i] = char((bits >> (8 * i)) & 0xFF);
    bytes_.append(little, 8);
}

void APMPBWireWriter::writeStringField(uint32_t number, const QString& text)
{
    if (text.isNull())
        return;
    writeTag(number, kWireLengthDelimited);
    // Plain ASCII text (names, most values) is its own UTF-8: written as it
    // is read, without a converted copy.
    if (apmpb::isAscii(text)) {
        writeVarint(uint64_t(text.size()));
        const qsizetype start = bytes_.size();
        bytes_.resize(start + text.size());
        apmpb::narrowAscii(text, bytes_.data() + start);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    writeVarint(uint64_t(utf8.size()));
    bytes_.append(utf8);
}

qsizetype APMPBWireWriter::beginMessage(uint32_t number)
{
    writeTag(number, kWireLengthDelimited);
    bytes_.append('\0');
    return bytes_.size();
}

qsizetype APMPBWireWriter::writeLengthBefore(QByteArray& bytes, qsizetype mark)
{
    const uint64_t length = uint64_t(bytes.size() - mark);
    char buffer[10];
    const int count = varintBytes(length, buffer);
    if (count == 1)
        bytes[mark - 1] = buffer[0];
    else
        bytes.replace(mark - 1, 1, QByteArrayView(buffer, count));
    return count - 1;
}
