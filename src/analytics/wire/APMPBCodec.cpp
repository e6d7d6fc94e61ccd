// Message records: creation, freeing, deep copies, the shared store routines
// and the nesting limit. Decoding and encoding live in APMPBDecoder.cpp and
// APMPBEncoder.cpp.
#include "analytics/wire/APMPBCodec.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kCellSize = 8;

constexpr char kStoreNullSlot[] = "<ERROR> Unable to set %s. Destination pointer is NULL";
constexpr char kStoreStringNullSlot[] = "<ERROR> Unable to set string. Destination array is NULL";
constexpr char kFreeStringNull[] = "<ERROR> Unable to dealloc string field. String struct is NULL";
constexpr char kFreeArrayNull[] = "<ERROR> Unable to initialize the array. Array pointer is NULL";
constexpr char kUnknownField[] = "<ERROR> %s: Cannot deallocate field %d: Unknown field";
constexpr char kCopyTooDeep[] = "<ERROR> %s: Cannot copy a message nested deeper than %d levels";

void* storeCell(void** slot, const char* kind)
{
    if (!slot) {
        apmpb::printError(kStoreNullSlot, kind);
        return nullptr;
    }
    if (!*slot)
        *slot = std::calloc(1, kCellSize);
    return *slot;
}

template <class T> bool storeValue(void** slot, const char* kind, T value)
{
    static_assert(sizeof(T) <= kCellSize);
    void* cell = storeCell(slot, kind);
    if (!cell)
        return false;
    std::memcpy(cell, &value, sizeof value);
    return true;
}

// Frees one element of a repeated field of the given flags.
void freeElement(const apmpb::Slot& slot, uint32_t flags, void* element)
{
    if (!element)
        return;
    if (flags & APMPBFieldMessage) {
        apmpb::freeRecord(*slot.messageType, static_cast<APMPBMessageInfo*>(element));
    } else if (flags & (APMPBFieldString | APMPBFieldBytes)) {
        APMPBFreeStringStorage(static_cast<APMPBString*>(element));
        std::free(element);
    } else {
        std::free(element);
    }
}

void* copyCell(const void* cell)
{
    void* copy = std::malloc(kCellSize);
    if (copy)
        std::memcpy(copy, cell, kCellSize);
    return copy;
}

void* copyString(const APMPBString* source)
{
    void* copy = nullptr;
    if (!APMPBStoreString(&copy, source->bytes, source->bytes ? source->length : 0)) {
        std::free(copy);
        return nullptr;
    }
    return copy;
}

APMPBMessageInfo* copyNew(const apmpb::MessageType& type, const APMPBMessageInfo* source);

// Whether two cells hold the same value of the kind: only the bytes the
// encoder reads count.
bool recordCellsEqual(uint32_t flags, const void* a, const void* b)
{
    size_t width = sizeof(uint64_t);
    if (flags & APMPBFieldBool)
        return (*static_cast<const uint8_t*>(a) != 0) == (*static_cast<const uint8_t*>(b) != 0);
    if (flags & (APMPBFieldEnum | APMPBFieldInt32 | APMPBFieldUInt32 | APMPBFieldFloat))
        width = sizeof(uint32_t);
    return std::memcmp(a, b, width) == 0;
}

bool recordStringsEqual(const APMPBString* a, const APMPBString* b)
{
    if (a->length != b->length || !a->bytes != !b->bytes)
        return false;
    return a->length == 0 || !a->bytes || std::memcmp(a->bytes, b->bytes, a->length) == 0;
}

// One element of a repeated field, or a singular value, of the slot's kind.
bool recordValuesEqual(const apmpb::Slot& info, uint32_t flags, const void* a, const void* b)
{
    if (!a || !b)
        return a == b;
    if (flags & APMPBFieldMessage)
        return apmpb::recordsEqual(*info.messageType, static_cast<const APMPBMessageInfo*>(a),
            static_cast<const APMPBMessageInfo*>(b));
    if (flags & (APMPBFieldString | APMPBFieldBytes))
        return recordStringsEqual(static_cast<const APMPBString*>(a), static_cast<const APMPBString*>(b));
    return recordCellsEqual(flags, a, b);
}

bool recordSlotsEqual(const apmpb::MessageType& type, uint32_t slot, const void* a, const void* b)
{
    const uint32_t flags = type.fieldTypes[slot];
    const apmpb::Slot& info = type.slotInfo[slot];
    if (!(flags & APMPBFieldRepeated))
        return recordValuesEqual(info, flags, a, b);
    if (!a || !b)
        return a == b;
    const auto* left = static_cast<const APMPBRepeated*>(a);
    const auto* right = static_cast<const APMPBRepeated*>(b);
    if (left->count != right->count || !left->elements != !right->elements)
        return false;
    for (uint32_t i = 0; left->elements && i < left->count; ++i) {
        if (!recordValuesEqual(info, flags, left->elements[i], right->elements[i]))
            return false;
    }
    return true;
}

// A copy of one element of a repeated field; null elements stay null.
bool copyElement(const apmpb::Slot& slot, uint32_t flags, const void* element, void** copy)
{
    *copy = nullptr;
    if (!element)
        return true;
    if (flags & APMPBFieldMessage)
        *copy = copyNew(*slot.messageType, static_cast<const APMPBMessageInfo*>(element));
    else if (flags & (APMPBFieldString | APMPBFieldBytes))
        *copy = copyString(static_cast<const APMPBString*>(element));
    else
        *copy = copyCell(element);
    return *copy != nullptr;
}

bool copySlot(const apmpb::MessageType& type, uint32_t slot, const void* source, APMPBMessageInfo* target)
{
    const uint32_t flags = type.fieldTypes[slot];
    const apmpb::Slot& info = type.slotInfo[slot];
    if (flags & APMPBFieldRepeated) {
        const auto* from = static_cast<const APMPBRepeated*>(source);
        auto* to = static_cast<APMPBRepeated*>(target->values[slot]);
        if (!to)
            return false;
        if (from->count == 0 || !from->elements)
            return true;
        to->elements = static_cast<void**>(std::calloc(from->count, sizeof(void*)));
        if (!to->elements)
            return false;
        to->count = from->count;
        for (uint32_t i = 0; i < from->count; ++i) {
            if (!copyElement(info, flags, from->elements[i], &to->elements[i]))
                return false;
        }
        return true;
    }
    if (flags & APMPBFieldMessage) {
        target->values[slot] = copyNew(*info.messageType, static_cast<const APMPBMessageInfo*>(source));
        return target->values[slot] != nullptr;
    }
    if (flags & (APMPBFieldString | APMPBFieldBytes)) {
        target->values[slot] = copyString(static_cast<const APMPBString*>(source));
        return target->values[slot] != nullptr;
    }
    target->values[slot] = copyCell(source);
    return target->values[slot] != nullptr;
}

APMPBMessageInfo* copyNew(const apmpb::MessageType& type, const APMPBMessageInfo* source)
{
    if (!apmpb::isRecordOfType(type, source))
        return nullptr;
    auto* copy = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    if (!copy)
        return nullptr;
    bool ok = apmpb::InitMessageInfo(type, copy);
    for (uint32_t slot = 0; ok && slot < type.slotCount; ++slot) {
        if (source->values[slot])
            ok = copySlot(type, slot, source->values[slot], copy);
    }
    if (!ok) {
        apmpb::freeRecord(type, copy);
        return nullptr;
    }
    return copy;
}

bool fitsFrom(const apmpb::MessageType& type, const APMPBMessageInfo* info, int level)
{
    if (!info || !info->values)
        return true;
    for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const uint32_t flags = type.fieldTypes[slot];
        const void* value = info->values[slot];
        if (!value || !(flags & APMPBFieldMessage))
            continue;
        const apmpb::MessageType& sub = *type.slotInfo[slot].messageType;
        if (!(flags & APMPBFieldRepeated)) {
            if (!fitsFrom(sub, static_cast<const APMPBMessageInfo*>(value), level))
                return false;
            continue;
        }
        const auto* repeated = static_cast<const APMPBRepeated*>(value);
        if (repeated->count == 0 || !repeated->elements)
            continue;
        if (level + 1 > apmpb::kMaxNestingDepth)
            return false;
        for (uint32_t i = 0; i < repeated->count; ++i) {
            if (!fitsFrom(sub, static_cast<const APMPBMessageInfo*>(repeated->elements[i]), level + 1))
                return false;
        }
    }
    return true;
}

} // namespace

namespace apmpb {

void printError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
}

uint32_t slotOfField(const MessageType& type, const pb_field_iter_t& field)
{
    if (field.index < type.slotCount) {
        const uint32_t slot = type.fieldSlots[field.index];
        if (type.slotInfo[slot].tag == field.tag)
            return slot;
    }
    return type.slotCount;
}

bool isRecordOfType(const MessageType& type, const APMPBMessageInfo* info)
{
    return info && info->values && info->name && std::strcmp(info->name, type.name) == 0;
}

bool fitsNestingLimit(const MessageType& type, const APMPBMessageInfo* info)
{
    return fitsFrom(type, info, 1);
}

bool recordsEqual(const MessageType& type, const APMPBMessageInfo* a, const APMPBMessageInfo* b)
{
    if (!isRecordOfType(type, a) || !isRecordOfType(type, b))
        return false;
    if (a == b)
        return true;
    for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!recordSlotsEqual(type, slot, a->values[slot], b->values[slot]))
            return false;
    }
    return true;
}

bool decodesInTwoPasses(const MessageType& type)
{
    for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const uint32_t flags = type.fieldTypes[slot];
        if (flags & APMPBFieldRepeated)
            return true;
        if ((flags & APMPBFieldMessage) && decodesInTwoPasses(*type.slotInfo[slot].messageType))
            return true;
    }
    return false;
}

bool InitMessageInfo(const MessageType& type, APMPBMessageInfo* info)
{
    if (!info)
        return false;
    info->name = type.name;
    info->fieldTypes = type.fieldTypes;
    info->values = static_cast<void**>(std::calloc(type.slotCount, sizeof(void*)));
    if (!info->values)
        return false;
    for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (type.fieldTypes[slot] & APMPBFieldRepeated) {
            info->values[slot] = std::calloc(1, sizeof(APMPBRepeated));
            if (!info->values[slot])
                return false;
        }
    }
    return true;
}

bool deallocField(const MessageType& type, APMPBMessageInfo* info, uint32_t slot)
{
    if (!info)
        return false;
    if (slot >= type.slotCount) {
        printError(kUnknownField, type.name, static_cast<int>(slot));
        return false;
    }
    if (!info->values)
        return false;
    void*& value = info->values[slot];
    const uint32_t flags = type.fieldTypes[slot];
    if (flags & APMPBFieldRepeated) {
        auto* repeated = static_cast<APMPBRepeated*>(value);
        if (repeated) {
            if (repeated->elements) {
                for (uint32_t i = 0; i < repeated->count; ++i)
                    freeElement(type.slotInfo[slot], flags, repeated->elements[i]);
            }
            APMPBFreeArrayStorage(repeated);
        }
        return true;
    }
    if (!value)
        return true;
    if (flags & APMPBFieldMessage) {
        freeRecord(*type.slotInfo[slot].messageType, static_cast<APMPBMessageInfo*>(value));
    } else if (flags & (APMPBFieldString | APMPBFieldBytes)) {
        APMPBFreeStringStorage(static_cast<APMPBString*>(value));
        std::free(value);
    } else {
        std::free(value);
    }
    value = nullptr;
    return true;
}

bool freeRecord(const MessageType& type, APMPBMessageInfo* info)
{
    if (!info)
        return false;
    bool ok = true;
    if (info->values) {
        for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
            ok = deallocField(type, info, slot) && ok;
            if (type.fieldTypes[slot] & APMPBFieldRepeated)
                std::free(info->values[slot]);
        }
        std::free(info->values);
    }
    std::free(info);
    return ok;
}

bool copyRecord(const MessageType& type, APMPBMessageInfo** destination, const APMPBMessageInfo* source)
{
    if (!destination || !source)
        return false;
    if (!isRecordOfType(type, source))
        return false;
    if (!fitsNestingLimit(type, source)) {
        printError(kCopyTooDeep, type.name, kMaxNestingDepth);
        return false;
    }
    if (*destination) {
        freeRecord(type, *destination);
        *destination = nullptr;
    }
    *destination = copyNew(type, source);
    return *destination != nullptr;
}

} // namespace apmpb

bool APMPBStoreBool(void** slot, bool value)
{
    return storeValue<uint64_t>(slot, "bool", value ? 1 : 0);
}

bool APMPBStoreUInt32(void** slot, uint32_t value)
{
    return storeValue<uint64_t>(slot, "uint32", value);
}

bool APMPBStoreUInt64(void** slot, uint64_t value)
{
    return storeValue(slot, "uint64", value);
}

bool APMPBStoreFloat(void** slot, float value)
{
    return storeValue(slot, "float", value);
}

bool APMPBStoreDouble(void** slot, double value)
{
    return storeValue(slot, "double", value);
}

bool APMPBStoreString(void** slot, const uint8_t* bytes, size_t length)
{
    if (!slot) {
        apmpb::printError(kStoreStringNullSlot);
        return false;
    }
    if (length > UINT32_MAX || (length > 0 && !bytes))
        return false;
    auto* copy = static_cast<uint8_t*>(std::malloc(length + 1));
    if (!copy)
        return false;
    if (length > 0)
        std::memcpy(copy, bytes, length);
    copy[length] = 0;
    if (!*slot)
        *slot = std::calloc(1, sizeof(APMPBString));
    auto* string = static_cast<APMPBString*>(*slot);
    if (!string) {
        std::free(copy);
        return false;
    }
    std::free(string->bytes);
    string->bytes = copy;
    string->length = static_cast<uint32_t>(length);
    return true;
}

void APMPBFreeStringStorage(APMPBString* string)
{
    if (!string) {
        apmpb::printError(kFreeStringNull);
        return;
    }
    std::free(string->bytes);
    *string = APMPBString {};
}

void APMPBFreeArrayStorage(APMPBRepeated* array)
{
    if (!array) {
        apmpb::printError(kFreeArrayNull);
        return;
    }
    std::free(array->elements);
    *array = APMPBRepeated {};
}
