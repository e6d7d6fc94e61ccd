#pragma once

#include "analytics/wire/APMPBMessageInfo.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <pb.h>

// Each message type is written down once, as a field list in tag order:
//
//   #define APMPB_FIELDS_Event(F, X, a)
//       F(X, a, slot, name, tag, Label, Type, SubmessageName) ...
//
// From that one list come the nanopb structure and field table (every string
// and every repeated field a callback field, every other field static with a
// presence flag), the slot-ordered flag words and the slot table below.
namespace apmpb {

struct MessageType;

// One field slot: its wire tag, its schema name (quoted in diagnostics) and,
// for message fields, the element or submessage type.
struct Slot {
    uint32_t tag;
    const char* name;
    const MessageType* messageType;
};

// One entry of a field list: where the field sits among the slots, and what it is.
struct SlotSpec {
    uint32_t slot;
    uint32_t tag;
    uint32_t flags;
    const char* name;
    const MessageType* messageType;
};

using DecodeCallback = bool (*)(pb_istream_t* stream, const pb_field_t* field, void** arg);
using EncodeCallback = bool (*)(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Everything the generic codec needs to know about one message type.
struct MessageType {
    const char* name;
    uint32_t slotCount;
    const uint32_t* fieldTypes; // by slot
    const Slot* slotInfo; // by slot
    const uint32_t* fieldSlots; // by nanopb field index (tag order)
    const pb_msgdesc_t* descriptor;
    size_t nanoSize;
    APMPBInitMessageInfoFn initMessageInfo;
    APMPBDeallocMessageFieldFn deallocField;
    APMPBCopyMessageInfoFn copyMessageInfo;
    APMPBFreeMessageInfoFn freeMessageInfo;
    DecodeCallback decodeRepeatedCallback;
    EncodeCallback encodeRepeatedCallback;
};

constexpr bool hasSingleBit(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// The list must name every slot exactly once, in strictly ascending tag order,
// with one label and one type bit per field.
template <std::size_t N> constexpr bool isWellFormed(const SlotSpec (&specs)[N])
{
    std::array<bool, N> seen {};
    for (std::size_t i = 0; i < N; ++i) {
        const SlotSpec& s = specs[i];
        if (s.slot >= N || seen[s.slot])
            return false;
        seen[s.slot] = true;
        if (s.tag == 0 || (i > 0 && s.tag <= specs[i - 1].tag))
            return false;
        const uint32_t label = s.flags & APMPBFieldLabelMask;
        if (label != APMPBFieldSingular && label != APMPBFieldRepeated)
            return false;
        if ((s.flags & ~(APMPBFieldLabelMask | APMPBFieldTypeMask)) != 0
            || !hasSingleBit(s.flags & APMPBFieldTypeMask))
            return false;
    }
    return true;
}

template <std::size_t N> constexpr std::array<uint32_t, N> fieldTypesBySlot(const SlotSpec (&specs)[N])
{
    std::array<uint32_t, N> out {};
    for (const SlotSpec& s : specs)
        out[s.slot] = s.flags;
    return out;
}

template <std::size_t N> constexpr std::array<Slot, N> slotsBySlot(const SlotSpec (&specs)[N])
{
    std::array<Slot, N> out {};
    for (const SlotSpec& s : specs)
        out[s.slot] = Slot { s.tag, s.name, s.messageType };
    return out;
}

template <std::size_t N> constexpr std::array<uint32_t, N> slotsInTagOrder(const SlotSpec (&specs)[N])
{
    std::array<uint32_t, N> out {};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = specs[i].slot;
    return out;
}

} // namespace apmpb

// ---- Field list adapters -------------------------------------------------

// nanopb structure members. Enums are held as int64 so that the 5-byte
// unsigned form and the 10-byte sign-extended form both decode, and a stored
// value (zero-extended 32 bits) encodes as an unsigned 32-bit varint.
#define APMPB_NANO_MEMBER(X, a, slot, name, tag, label, type, sub)                                           \
    APMPB_NANO_MEMBER_##label##_##type(name, sub)
#define APMPB_NANO_MEMBER_Singular_Bool(name, sub)                                                           \
    bool has_##name;                                                                                         \
    bool name;
#define APMPB_NANO_MEMBER_Singular_Enum(name, sub)                                                           \
    bool has_##name;                                                                                         \
    int64_t name;
#define APMPB_NANO_MEMBER_Singular_Int32(name, sub)                                                          \
    bool has_##name;                                                                                         \
    int32_t name;
#define APMPB_NANO_MEMBER_Singular_Int64(name, sub)                                                          \
    bool has_##name;                                                                                         \
    int64_t name;
#define APMPB_NANO_MEMBER_Singular_Float(name, sub)                                                          \
    bool has_##name;                                                                                         \
    float name;
#define APMPB_NANO_MEMBER_Singular_Double(name, sub)                                                         \
    bool has_##name;                                                                                         \
    double name;
#define APMPB_NANO_MEMBER_Singular_Message(name, sub)                                                        \
    bool has_##name;                                                                                         \
    APMPBNano##sub name;
#define APMPB_NANO_MEMBER_Singular_String(name, sub) pb_callback_t name;
#define APMPB_NANO_MEMBER_Repeated_Message(name, sub) pb_callback_t name;
#define APMPB_NANO_MEMBER_Repeated_String(name, sub) pb_callback_t name;
#define APMPB_NANO_MEMBER_Repeated_UInt32(name, sub) pb_callback_t name;
#define APMPB_NANO_MEMBER_Repeated_UInt64(name, sub) pb_callback_t name;
#define APMPB_NANO_MEMBER_Repeated_Int64(name, sub) pb_callback_t name;

// nanopb field-table entries (the X of a <struct>_FIELDLIST).
#define APMPB_NANO_KIND_Singular_Bool STATIC, OPTIONAL, BOOL
#define APMPB_NANO_KIND_Singular_Enum STATIC, OPTIONAL, ENUM
#define APMPB_NANO_KIND_Singular_Int32 STATIC, OPTIONAL, INT32
#define APMPB_NANO_KIND_Singular_Int64 STATIC, OPTIONAL, INT64
#define APMPB_NANO_KIND_Singular_Float STATIC, OPTIONAL, FLOAT
#define APMPB_NANO_KIND_Singular_Double STATIC, OPTIONAL, DOUBLE
#define APMPB_NANO_KIND_Singular_Message STATIC, OPTIONAL, MESSAGE
#define APMPB_NANO_KIND_Singular_String CALLBACK, OPTIONAL, STRING
#define APMPB_NANO_KIND_Repeated_Message CALLBACK, REPEATED, MESSAGE
#define APMPB_NANO_KIND_Repeated_String CALLBACK, REPEATED, STRING
#define APMPB_NANO_KIND_Repeated_UInt32 CALLBACK, REPEATED, UINT32
#define APMPB_NANO_KIND_Repeated_UInt64 CALLBACK, REPEATED, UINT64
#define APMPB_NANO_KIND_Repeated_Int64 CALLBACK, REPEATED, INT64
#define APMPB_NANO_FIELD(X, a, slot, name, tag, label, type, sub)                                            \
    APMPB_NANO_FIELD_EXPAND(X, a, APMPB_NANO_KIND_##label##_##type, name, tag)
#define APMPB_NANO_FIELD_EXPAND(X, a, kind, name, tag) APMPB_NANO_FIELD_EMIT(X, a, kind, name, tag)
#define APMPB_NANO_FIELD_EMIT(X, a, atype, htype, ltype, name, tag) X(a, atype, htype, ltype, name, tag)

// Slot-table entries.
#define APMPB_SLOT_SPEC(X, a, slot, name, tag, label, type, sub)                                             \
    apmpb::SlotSpec { slot, tag, APMPBField##label | APMPBField##type, #name, APMPB_SUBTYPE_##type(sub) },
#define APMPB_SUBTYPE_Bool(sub) nullptr
#define APMPB_SUBTYPE_Enum(sub) nullptr
#define APMPB_SUBTYPE_Int32(sub) nullptr
#define APMPB_SUBTYPE_UInt32(sub) nullptr
#define APMPB_SUBTYPE_Int64(sub) nullptr
#define APMPB_SUBTYPE_UInt64(sub) nullptr
#define APMPB_SUBTYPE_Float(sub) nullptr
#define APMPB_SUBTYPE_Double(sub) nullptr
#define APMPB_SUBTYPE_String(sub) nullptr
#define APMPB_SUBTYPE_Bytes(sub) nullptr
#define APMPB_SUBTYPE_Message(sub) &APMPB##sub##MessageType

// ---- Per-type declarations -----------------------------------------------

// The nanopb structure, its field table and the codec operations of one type.
// Two-pass types (those with a repeated field, directly or in an embedded
// singular submessage) also have AllocateArrays (APMPB_DECLARE_ALLOCATE_ARRAYS).
#define APMPB_DECLARE_MESSAGE(Name)                                                                          \
    struct APMPBNano##Name {                                                                                 \
        APMPB_FIELDS_##Name(APMPB_NANO_MEMBER, _, _)                                                         \
    };                                                                                                       \
    extern const pb_msgdesc_t APMPBNano##Name##_msg;                                                         \
    extern const apmpb::MessageType APMPB##Name##MessageType;                                                \
    bool APMPB##Name##InitMessageInfo(APMPBMessageInfo* info);                                               \
    bool APMPB##Name##DeallocField(APMPBMessageInfo* info, uint32_t field);                                  \
    bool APMPB##Name##CopyMessageInfo(APMPBMessageInfo** destination, const APMPBMessageInfo* source);       \
    bool APMPB##Name##FreeMessageInfo(APMPBMessageInfo* info);                                               \
    bool APMPB##Name##SetDecoders(APMPBMessageInfo** info, APMPBNano##Name* nano);                           \
    void APMPB##Name##ApplyDecoded(const APMPBNano##Name* nano, APMPBMessageInfo* info);                     \
    bool APMPB##Name##Decode(const uint8_t* bytes, size_t length, APMPBMessageInfo* info);                   \
    bool APMPB##Name##DecodeRepeatedCallback(pb_istream_t* stream, const pb_field_t* field, void** arg);     \
    bool APMPB##Name##FillEncoder(const APMPBMessageInfo* info, APMPBNano##Name* nano);                      \
    int64_t APMPB##Name##Encode(const APMPBMessageInfo* info, uint8_t** buffer);                             \
    bool APMPB##Name##EncodeRepeatedCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

#define APMPB_DECLARE_ALLOCATE_ARRAYS(Name) bool APMPB##Name##AllocateArrays(APMPBMessageInfo* info);
