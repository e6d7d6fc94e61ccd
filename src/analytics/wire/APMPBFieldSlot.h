#pragma once

#include "analytics/wire/APMPBSchema.h"
#include "analytics/wire/NANOMessageBase.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <cstring>
#include <optional>

namespace apmpb {

// One slot of a message object's record, resolved and checked for the typed
// field accessors (APMPBFieldAccess.h). Each resolver logs what it refuses.
struct FieldSlot {
    APMPBMessageInfo* info;
    const MessageType* type;
    uint32_t index;
    uint32_t flags;

    void*& value() const { return info->values[index]; }
    // Unsets the slot, or empties a repeated one, through the message's own operation.
    void clear(NANOMessageBase* message) const { message->deallocMessageFieldFn()(info, index); }

    // Nothing when the message has no record or the slot lies outside its type.
    static std::optional<FieldSlot> reach(
        const NANOMessageBase* message, int32_t field, const char* operation);
    // Nothing also when the slot is not a singular one of the accepted types
    // (kind names them in the diagnostic).
    static std::optional<FieldSlot> reachScalar(const NANOMessageBase* message, int32_t field,
        const char* operation, uint32_t accepted, const char* kind);
    // Nothing also when the slot is not repeated or has lost its repeated record.
    static std::optional<FieldSlot> reachRepeated(
        const NANOMessageBase* message, int32_t field, const char* operation);
};

inline uint64_t readCell(const void* cell)
{
    uint64_t value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

template <class T> T readCellAs(const void* cell)
{
    T value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

inline uint8_t firstByte(const void* cell)
{
    return *static_cast<const uint8_t*>(cell);
}

// The text of a string record when its bytes are valid UTF-8 (an initial byte
// order mark is kept as a character); a null QString otherwise.
QString decodeUtf8(const APMPBString* string);

// Whether every UTF-16 unit of the text is ASCII, so that its UTF-8 bytes
// are its units narrowed one by one (narrowAscii writes text.size() bytes).
bool isAscii(QStringView text);
void narrowAscii(QStringView text, char* out);

} // namespace apmpb

// Store routines of the accessors: the UTF-8 encoding of a text, or the bytes
// of a byte array, into the string record in *slot (allocated when unset).
bool APMPBStoreNSString(void** slot, const QString& text);
bool APMPBStoreNSData(void** slot, const QByteArray& data);
