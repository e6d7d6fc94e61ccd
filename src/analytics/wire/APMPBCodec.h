#pragma once

#include "analytics/wire/APMPBMessageInfo.h"
#include "analytics/wire/APMPBSchema.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <pb.h>
#include <pb_common.h>

// The wire codec: message records (APMPBMessageInfo) to and from Protocol
// Buffers bytes through nanopb. Every type's named operations
// (APMPB<Type>Decode, ...) call the generic ones in apmpb:: with the type's
// table. Diagnostics go to standard output, one line each, prefixed "<ERROR>".
//
// Decoding: types with a repeated field (directly or inside an embedded
// singular submessage) take two passes over the bytes: the first counts the
// elements of every repeated field (and stores strings), the element arrays
// are then allocated, the second stores the elements. Repeated message
// elements are decoded one by one with their own type's operations.
//
// Nesting: a message inside a repeated message field is one level deeper than
// its parent; a singular submessage is embedded in its parent and shares its
// level (the schema cannot nest those without bound). Decoding, encoding and
// copying refuse anything deeper than kMaxNestingDepth levels, so hostile
// input fails cleanly instead of exhausting the stack, and every record this
// codec builds can be encoded and decoded again.

namespace apmpb {

constexpr int kMaxNestingDepth = 100;
constexpr size_t kMaxStringLength = 1048576;

// Initialises an empty record of the type (every slot unset, every repeated
// field empty); false for a null record. Each type's APMPB<Type>InitMessageInfo
// is this for its own type.
bool InitMessageInfo(const MessageType& type, APMPBMessageInfo* info);
bool deallocField(const MessageType& type, APMPBMessageInfo* info, uint32_t slot);
// Frees whatever *destination holds and stores a deep copy of source there
// (nothing, and false, when the copy fails or source is another type).
bool copyRecord(const MessageType& type, APMPBMessageInfo** destination, const APMPBMessageInfo* source);
bool freeRecord(const MessageType& type, APMPBMessageInfo* info);
bool allocateArrays(const MessageType& type, APMPBMessageInfo* info);
// Replaces the record in *slot with a fresh one and installs its decoders in
// the nanopb structure (recursively for embedded submessages).
bool setDecoders(const MessageType& type, void** slot, void* nano);
bool applyDecoded(const MessageType& type, const void* nano, APMPBMessageInfo* info);
bool decode(const MessageType& type, const uint8_t* bytes, size_t length, APMPBMessageInfo* info);
bool decodeRepeatedMessage(const MessageType& type, pb_istream_t* stream, void** arg);
bool fillEncoder(const MessageType& type, const APMPBMessageInfo* info, void* nano);
int64_t encode(const MessageType& type, const APMPBMessageInfo* info, uint8_t** buffer);
bool encodeRepeatedMessage(
    const MessageType& type, pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
// Encodes straight into a byte array; nothing when encoding fails.
std::optional<QByteArray> encodeToByteArray(const MessageType& type, const APMPBMessageInfo* info);

bool decodesInTwoPasses(const MessageType& type);
bool isRecordOfType(const MessageType& type, const APMPBMessageInfo* info);
// True when two records of the type hold the same fields with the same
// values, compared as the encoder reads them (so equal records encode to the
// same bytes). False when either is not a record of the type.
bool recordsEqual(const MessageType& type, const APMPBMessageInfo* a, const APMPBMessageInfo* b);
// True when no message in the record lies deeper than kMaxNestingDepth levels.
bool fitsNestingLimit(const MessageType& type, const APMPBMessageInfo* info);

// The slot of the nanopb field the iterator is on; slotCount when the tables disagree.
uint32_t slotOfField(const MessageType& type, const pb_field_iter_t& field);

// Calls fn(slot, field) for every field of a nanopb structure of the type, in
// tag order; stops and answers false at the first false.
template <class Fn> bool forEachField(const MessageType& type, void* nano, Fn&& fn)
{
    pb_field_iter_t field;
    if (!pb_field_iter_begin(&field, type.descriptor, nano))
        return true;
    do {
        const uint32_t slot = slotOfField(type, field);
        if (slot >= type.slotCount || !fn(slot, field))
            return false;
    } while (pb_field_iter_next(&field));
    return true;
}

// One diagnostic line on standard output.
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace apmpb

// Shared store routines: allocate the slot's cell (8 bytes) when the slot is
// unset, then store. A null slot address stores nothing and prints a diagnostic.
bool APMPBStoreBool(void** slot, bool value);
bool APMPBStoreUInt32(void** slot, uint32_t value);
bool APMPBStoreUInt64(void** slot, uint64_t value);
bool APMPBStoreFloat(void** slot, float value);
bool APMPBStoreDouble(void** slot, double value);
// Copies length bytes (plus a NUL) into the slot's string record, replacing
// the old bytes; allocates the record when the slot is unset.
bool APMPBStoreString(void** slot, const uint8_t* bytes, size_t length);
// Free the bytes of a string record, or the element array (not the elements)
// of a repeated record, and zero the record.
void APMPBFreeStringStorage(APMPBString* string);
void APMPBFreeArrayStorage(APMPBRepeated* array);

// nanopb callbacks of string and repeated scalar fields. The decode argument
// is the slot address (strings) or the repeated record; the encode argument
// the string record or the repeated record.
bool APMPBDecodeStringCallback(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool APMPBDecodeRepeatedStringCallback(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool APMPBDecodeRepeatedVarintCallback(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool APMPBEncodeStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool APMPBEncodeRepeatedStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool APMPBEncodeRepeatedVarintCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Encodes a filled nanopb structure into a new calloc'd buffer that the caller
// frees; returns its length (0 for an empty message) or -1.
int64_t APMPBEncodeToBuffer(const pb_msgdesc_t* fields, const void* nano, uint8_t** buffer);

// The named operations of one type, all forwarding to the generic codec.
#define APMPB_DEFINE_OPERATIONS(Name)                                                                        \
    bool APMPB##Name##InitMessageInfo(APMPBMessageInfo* info)                                                \
    {                                                                                                        \
        return apmpb::InitMessageInfo(APMPB##Name##MessageType, info);                                       \
    }                                                                                                        \
    bool APMPB##Name##DeallocField(APMPBMessageInfo* info, uint32_t field)                                   \
    {                                                                                                        \
        return apmpb::deallocField(APMPB##Name##MessageType, info, field);                                   \
    }                                                                                                        \
    bool APMPB##Name##CopyMessageInfo(APMPBMessageInfo** destination, const APMPBMessageInfo* source)        \
    {                                                                                                        \
        return apmpb::copyRecord(APMPB##Name##MessageType, destination, source);                             \
    }                                                                                                        \
    bool APMPB##Name##FreeMessageInfo(APMPBMessageInfo* info)                                                \
    {                                                                                                        \
        return apmpb::freeRecord(APMPB##Name##MessageType, info);                                            \
    }                                                                                                        \
    bool APMPB##Name##SetDecoders(APMPBMessageInfo** info, APMPBNano##Name* nano)                            \
    {                                                                                                        \
        if (!info || !nano)                                                                                  \
            return false;                                                                                    \
        void* slot = *info;                                                                                  \
        const bool ok = apmpb::setDecoders(APMPB##Name##MessageType, &slot, nano);                           \
        *info = static_cast<APMPBMessageInfo*>(slot);                                                        \
        return ok;                                                                                           \
    }                                                                                                        \
    void APMPB##Name##ApplyDecoded(const APMPBNano##Name* nano, APMPBMessageInfo* info)                      \
    {                                                                                                        \
        if (nano && info)                                                                                    \
            (void)apmpb::applyDecoded(APMPB##Name##MessageType, nano, info);                                 \
    }                                                                                                        \
    bool APMPB##Name##Decode(const uint8_t* bytes, size_t length, APMPBMessageInfo* info)                    \
    {                                                                                                        \
        return apmpb::decode(APMPB##Name##MessageType, bytes, length, info);                                 \
    }                                                                                                        \
    bool APMPB##Name##DecodeRepeatedCallback(pb_istream_t* stream, const pb_field_t*, void** arg)            \
    {                                                                                                        \
        return apmpb::decodeRepeatedMessage(APMPB##Name##MessageType, stream, arg);                          \
    }                                                                                                        \
    bool APMPB##Name##FillEncoder(const APMPBMessageInfo* info, APMPBNano##Name* nano)                       \
    {                                                                                                        \
        return nano && apmpb::fillEncoder(APMPB##Name##MessageType, info, nano);                             \
    }                                                                                                        \
    int64_t APMPB##Name##Encode(const APMPBMessageInfo* info, uint8_t** buffer)                              \
    {                                                                                                        \
        return apmpb::encode(APMPB##Name##MessageType, info, buffer);                                        \
    }                                                                                                        \
    bool APMPB##Name##EncodeRepeatedCallback(                                                                \
        pb_ostream_t* stream, const pb_field_t* field, void* const* arg)                                     \
    {                                                                                                        \
        return apmpb::encodeRepeatedMessage(APMPB##Name##MessageType, stream, field, arg);                   \
    }

#define APMPB_DEFINE_ALLOCATE_ARRAYS(Name)                                                                   \
    bool APMPB##Name##AllocateArrays(APMPBMessageInfo* info)                                                 \
    {                                                                                                        \
        return apmpb::allocateArrays(APMPB##Name##MessageType, info);                                        \
    }

// The nanopb binding, slot tables and type table of one message type; the
// type's field list and its <struct>_FIELDLIST/_CALLBACK/_DEFAULT/_MSGTYPE
// definitions must be in scope.
#define APMPB_DEFINE_MESSAGE_TYPE(Name)                                                                      \
    PB_BIND(APMPBNano##Name, APMPBNano##Name, 2)                                                             \
    namespace {                                                                                              \
    constexpr apmpb::SlotSpec k##Name##Specs[] = { APMPB_FIELDS_##Name(APMPB_SLOT_SPEC, _, _) };             \
    static_assert(apmpb::isWellFormed(k##Name##Specs), "malformed field list of " #Name);                    \
    constexpr auto k##Name##FieldTypes = apmpb::fieldTypesBySlot(k##Name##Specs);                            \
    constexpr auto k##Name##Slots = apmpb::slotsBySlot(k##Name##Specs);                                      \
    constexpr auto k##Name##FieldSlots = apmpb::slotsInTagOrder(k##Name##Specs);                             \
    }                                                                                                        \
    const apmpb::MessageType APMPB##Name##MessageType                                                        \
        = { #Name, static_cast<uint32_t>(std::size(k##Name##Specs)), k##Name##FieldTypes.data(),             \
              k##Name##Slots.data(), k##Name##FieldSlots.data(), &APMPBNano##Name##_msg,                     \
              sizeof(APMPBNano##Name), APMPB##Name##InitMessageInfo, APMPB##Name##DeallocField,              \
              APMPB##Name##CopyMessageInfo, APMPB##Name##FreeMessageInfo,                                    \
              APMPB##Name##DecodeRepeatedCallback, APMPB##Name##EncodeRepeatedCallback };                    \
    APMPB_DEFINE_OPERATIONS(Name)
