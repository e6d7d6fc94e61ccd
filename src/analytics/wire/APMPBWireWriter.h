#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Appends Protocol Buffers fields to a byte array, byte for byte as the
// codec's encoder writes the same fields: for a message whose writer knows
// its fields in tag order, so that no record needs to be built, filled and
// freed only to be encoded once.
//
// A submessage is written in place: beginMessage() leaves one byte for its
// length and endMessage() writes the length there (widening it when the
// submessage passed 127 bytes), so the submessage is walked once, where
// measuring it first would walk it twice.
class APMPBWireWriter {
public:
    explicit APMPBWireWriter(QByteArray& bytes)
        : bytes_(bytes)
    {
    }

    // int64 (and int32, which the encoder widens to 64 bits): ten bytes for
    // a negative value.
    void writeInt64Field(uint32_t number, qint64 value);
    void writeDoubleField(uint32_t number, double value);
    // The text as UTF-8. A null text writes nothing, as a string field set
    // to a null text is left unset.
    void writeStringField(uint32_t number, const QString& text);

    // Where the submessage begins; hand it to endMessage() once its fields
    // are written.
    qsizetype beginMessage(uint32_t number);
    void endMessage(qsizetype mark) { writeLengthBefore(bytes_, mark); }

    // For a submessage of a message written elsewhere into the same bytes:
    // writes the length of what follows mark into the byte left for it just
    // before mark; answers how many more bytes the length took.
    static qsizetype writeLengthBefore(QByteArray& bytes, qsizetype mark);

private:
    void writeTag(uint32_t number, uint32_t wireType);
    void writeVarint(uint64_t value);

    QByteArray& bytes_;
};
