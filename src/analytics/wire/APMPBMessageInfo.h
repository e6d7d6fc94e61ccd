#pragma once

#include <cstdint>

// In-memory form of one wire message: one pointer per field slot, a null
// pointer meaning "unset". Slots are numbered from 0 in schema order (which is
// tag order in every message but the measurement bundle). Every block here is
// a separate heap block (calloc/free); the record owns all of them.
//
// What a set slot points to:
// - bool, enum, int32, uint32, int64, uint64, float, double: an 8-byte cell
//   (32-bit values zero-extended; bool in the low byte; float in the first 4 bytes)
// - string and bytes: an APMPBString
// - singular message: the APMPBMessageInfo of the submessage
// - repeated field: an APMPBRepeated, allocated when the record is initialised,
//   so a repeated slot is never null in a well-formed record; its elements are
//   message records, string records or 8-byte cells.
struct APMPBMessageInfo {
    void** values;
    const uint32_t* fieldTypes;
    const char* name;
};

struct APMPBString {
    uint32_t length;
    // Always followed by a NUL that length does not count.
    uint8_t* bytes;
};

struct APMPBRepeated {
    // Used only while decoding: the next element position to store.
    uint32_t fillIndex;
    uint32_t count;
    void** elements;
};

// The field-type flag word of a slot: one label bit and one type bit.
enum APMPBFieldFlag : uint32_t {
    APMPBFieldSingular = 0x0002,
    APMPBFieldRepeated = 0x0008,
    APMPBFieldBool = 0x0020,
    APMPBFieldEnum = 0x0040,
    APMPBFieldInt32 = 0x0080,
    APMPBFieldUInt32 = 0x0100,
    APMPBFieldInt64 = 0x0200,
    APMPBFieldUInt64 = 0x0400,
    APMPBFieldFloat = 0x0800,
    APMPBFieldDouble = 0x1000,
    APMPBFieldString = 0x2000,
    APMPBFieldMessage = 0x4000,
    APMPBFieldBytes = 0x8000,
};

constexpr uint32_t APMPBFieldLabelMask = APMPBFieldSingular | APMPBFieldRepeated;
constexpr uint32_t APMPBFieldTypeMask = 0xFFE0;

// The per-type operations a message object hands out, for generic code that
// knows a type only through an object of it.
using APMPBInitMessageInfoFn = bool (*)(APMPBMessageInfo* info);
using APMPBDeallocMessageFieldFn = bool (*)(APMPBMessageInfo* info, uint32_t field);
using APMPBCopyMessageInfoFn = bool (*)(APMPBMessageInfo** destination, const APMPBMessageInfo* source);
using APMPBFreeMessageInfoFn = bool (*)(APMPBMessageInfo* info);
