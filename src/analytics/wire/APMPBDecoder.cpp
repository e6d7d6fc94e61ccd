// Decoding: bytes to message records through nanopb (see APMPBCodec.h).
#include "analytics/wire/APMPBCodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <pb_decode.h>

namespace {

constexpr char kDecoderFailed[] = "<ERROR> %s decoder failed: %s";
constexpr char kNullRecord[] = "<ERROR> %s decoder failed: message_info is NULL";
constexpr char kSetDecodersFailed[] = "<ERROR> %s decoder failed: Unable to set decoders";
constexpr char kAllocateArraysFailed[] = "<ERROR> %s decoder failed: Unable to allocate arrays";
constexpr char kMissingArray[] = "<ERROR> Cannot allocate %s arrays. Missing params field (%s)";
constexpr char kInvalidArg[] = "<ERROR> %s decoder failed: Invalid arg parameter";
constexpr char kExtractFailed[] = "<ERROR> %s decoder failed: Unable to extract buffer from stream";
constexpr char kInitFailed[] = "<ERROR> %s decoder failed: Unable to initialize MessageInfo";
constexpr char kRepeatedFailed[] = "<ERROR> %s decoder failed: Unable to decode repeated %s";
constexpr char kStringTooBig[] = "Unable to process proto stream. Buffer is too big. %zu > %d";
constexpr char kTooDeep[] = "message nested too deep";
constexpr char kOutOfMemory[] = "out of memory";
constexpr char kTooManyElements[] = "more elements than counted";
constexpr char kNoBytes[] = "no bytes to read";

// Nesting level of the decode running on this thread (1 for a top-level message).
thread_local int tDecodeLevel = 0;

struct LevelGuard {
    LevelGuard() { ++tDecodeLevel; }
    ~LevelGuard() { --tDecodeLevel; }
    LevelGuard(const LevelGuard&) = delete;
    LevelGuard& operator=(const LevelGuard&) = delete;
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using HeapBlock = std::unique_ptr<void, FreeDeleter>;

bool installDecoders(const apmpb::MessageType& type, APMPBMessageInfo* info, void* nano)
{
    return apmpb::forEachField(type, nano, [&](uint32_t slot, pb_field_iter_t& field) {
        const uint32_t flags = type.fieldTypes[slot];
        void** value = &info->values[slot];
        if (flags & APMPBFieldRepeated) {
            // The field is decoded afresh: elements a used record held are freed.
            // A missing repeated record is reported here and fails the decode
            // when the field occurs or its arrays are allocated.
            if (*value)
                apmpb::deallocField(type, info, slot);
            else
                APMPBFreeArrayStorage(nullptr);
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            if (flags & APMPBFieldMessage)
                callback->funcs.decode = type.slotInfo[slot].messageType->decodeRepeatedCallback;
            else if (flags & (APMPBFieldString | APMPBFieldBytes))
                callback->funcs.decode = APMPBDecodeRepeatedStringCallback;
            else
                callback->funcs.decode = APMPBDecodeRepeatedVarintCallback;
            callback->arg = *value;
        } else if (flags & (APMPBFieldString | APMPBFieldBytes)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.decode = APMPBDecodeStringCallback;
            callback->arg = value;
        } else if (flags & APMPBFieldMessage) {
            return apmpb::setDecoders(*type.slotInfo[slot].messageType, value, field.pData);
        }
        return true;
    });
}

// Reads the rest of the stream (one length-delimited field) into a string
// record; fields over kMaxStringLength are refused.
bool readString(pb_istream_t* stream, APMPBString* string)
{
    const size_t length = stream->bytes_left;
    if (length > apmpb::kMaxStringLength) {
        apmpb::printError(kStringTooBig, length, static_cast<int>(apmpb::kMaxStringLength));
        return false;
    }
    auto* bytes = static_cast<uint8_t*>(std::malloc(length + 1));
    if (!bytes)
        return false;
    if (!pb_read(stream, bytes, length)) {
        std::free(bytes);
        return false;
    }
    bytes[length] = 0;
    std::free(string->bytes);
    string->bytes = bytes;
    string->length = static_cast<uint32_t>(length);
    return true;
}

// In the counting pass (no element array yet) skips the element and counts
// it; returns the repeated record's next free position in the storing pass.
enum class ElementStep { Counted, Store, Failed };

ElementStep nextElement(pb_istream_t* stream, APMPBRepeated* repeated, bool skip, const char* name)
{
    if (!repeated->elements) {
        if (skip && !pb_read(stream, nullptr, stream->bytes_left)) {
            apmpb::printError(kDecoderFailed, name, PB_GET_ERROR(stream));
            return ElementStep::Failed;
        }
        if (repeated->count == UINT32_MAX) {
            apmpb::printError(kDecoderFailed, name, kTooManyElements);
            return ElementStep::Failed;
        }
        ++repeated->count;
        return ElementStep::Counted;
    }
    if (repeated->fillIndex >= repeated->count) {
        apmpb::printError(kDecoderFailed, name, kTooManyElements);
        return ElementStep::Failed;
    }
    return ElementStep::Store;
}

bool runPass(const apmpb::MessageType& type, const uint8_t* bytes, size_t length, void* nano)
{
    pb_istream_t stream = pb_istream_from_buffer(bytes, length);
    if (pb_decode_ex(&stream, type.descriptor, nano, PB_DECODE_NOINIT))
        return true;
    apmpb::printError(kDecoderFailed, type.name, PB_GET_ERROR(&stream));
    return false;
}

template <class T> T readNano(const void* data)
{
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

} // namespace

namespace apmpb {

bool setDecoders(const MessageType& type, void** slot, void* nano)
{
    if (!slot || !nano)
        return false;
    if (*slot) {
        freeRecord(type, static_cast<APMPBMessageInfo*>(*slot));
        *slot = nullptr;
    }
    auto* info = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    if (!info)
        return false;
    *slot = info;
    return InitMessageInfo(type, info) && installDecoders(type, info, nano);
}

bool allocateArrays(const MessageType& type, APMPBMessageInfo* info)
{
    if (!info || !info->values)
        return false;
    for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const uint32_t flags = type.fieldTypes[slot];
        void* value = info->values[slot];
        if (flags & APMPBFieldRepeated) {
            auto* repeated = static_cast<APMPBRepeated*>(value);
            if (!repeated) {
                printError(kMissingArray, type.name, type.slotInfo[slot].name);
                return false;
            }
            repeated->fillIndex = 0;
            if (repeated->count > 0 && !repeated->elements) {
                repeated->elements = static_cast<void**>(std::calloc(repeated->count, sizeof(void*)));
                if (!repeated->elements)
                    return false;
            }
        } else if ((flags & APMPBFieldMessage) && value) {
            if (!allocateArrays(*type.slotInfo[slot].messageType, static_cast<APMPBMessageInfo*>(value)))
                return false;
        }
    }
    return true;
}

bool applyDecoded(const MessageType& type, const void* nano, APMPBMessageInfo* info)
{
    if (!info || !info->values)
        return false;
    pb_field_iter_t field;
    if (!pb_field_iter_begin_const(&field, type.descriptor, nano))
        return true;
    do {
        const uint32_t slot = apmpb::slotOfField(type, field);
        if (slot >= type.slotCount)
            return false;
        const uint32_t flags = type.fieldTypes[slot];
        if (flags & (APMPBFieldRepeated | APMPBFieldString | APMPBFieldBytes))
            continue;
        const bool present = readNano<bool>(field.pSize);
        void** value = &info->values[slot];
        if (flags & APMPBFieldMessage) {
            const MessageType& sub = *type.slotInfo[slot].messageType;
            if (present) {
                if (!applyDecoded(sub, field.pData, static_cast<APMPBMessageInfo*>(*value)))
                    return false;
            } else if (*value) {
                freeRecord(sub, static_cast<APMPBMessageInfo*>(*value));
                *value = nullptr;
            }
            continue;
        }
        if (!present)
            continue;
        bool stored = false;
        if (flags & APMPBFieldBool)
            stored = APMPBStoreBool(value, readNano<bool>(field.pData));
        else if (flags & APMPBFieldEnum)
            stored = APMPBStoreUInt32(value, static_cast<uint32_t>(readNano<int64_t>(field.pData)));
        else if (flags & APMPBFieldInt32)
            stored = APMPBStoreUInt32(value, static_cast<uint32_t>(readNano<int32_t>(field.pData)));
        else if (flags & APMPBFieldInt64)
            stored = APMPBStoreUInt64(value, static_cast<uint64_t>(readNano<int64_t>(field.pData)));
        else if (flags & APMPBFieldFloat)
            stored = APMPBStoreFloat(value, readNano<float>(field.pData));
        else if (flags & APMPBFieldDouble)
            stored = APMPBStoreDouble(value, readNano<double>(field.pData));
        if (!stored)
            return false;
    } while (pb_field_iter_next(&field));
    return true;
}

bool decode(const MessageType& type, const uint8_t* bytes, size_t length, APMPBMessageInfo* info)
{
    if (!info || !info->values) {
        printError(kNullRecord, type.name);
        return false;
    }
    if (!bytes && length > 0) {
        printError(kDecoderFailed, type.name, kNoBytes);
        return false;
    }
    LevelGuard level;
    if (tDecodeLevel > kMaxNestingDepth) {
        printError(kDecoderFailed, type.name, kTooDeep);
        return false;
    }
    HeapBlock nano(std::calloc(1, type.nanoSize));
    if (!nano) {
        printError(kDecoderFailed, type.name, kOutOfMemory);
        return false;
    }
    if (!installDecoders(type, info, nano.get())) {
        printError(kSetDecodersFailed, type.name);
        return false;
    }
    if (!runPass(type, bytes, length, nano.get()))
        return false;
    if (decodesInTwoPasses(type)) {
        if (!allocateArrays(type, info)) {
            printError(kAllocateArraysFailed, type.name);
            return false;
        }
        if (!runPass(type, bytes, length, nano.get()))
            return false;
    }
    if (!applyDecoded(type, nano.get(), info)) {
        printError(kDecoderFailed, type.name, kOutOfMemory);
        return false;
    }
    return true;
}

bool decodeRepeatedMessage(const MessageType& type, pb_istream_t* stream, void** arg)
{
    auto* repeated = arg ? static_cast<APMPBRepeated*>(*arg) : nullptr;
    if (!repeated) {
        printError(kInvalidArg, type.name);
        return false;
    }
    const ElementStep step = nextElement(stream, repeated, true, type.name);
    if (step != ElementStep::Store)
        return step == ElementStep::Counted;

    const size_t length = stream->bytes_left;
    HeapBlock buffer(std::malloc(length > 0 ? length : 1));
    if (!buffer || !pb_read(stream, static_cast<uint8_t*>(buffer.get()), length)) {
        printError(kExtractFailed, type.name);
        return false;
    }
    // The element belongs to the parent from here on, even if it fails to decode.
    auto* element = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    repeated->elements[repeated->fillIndex] = element;
    if (!element || !InitMessageInfo(type, element)) {
        printError(kInitFailed, type.name);
        return false;
    }
    if (!decode(type, static_cast<const uint8_t*>(buffer.get()), length, element)) {
        printError(kRepeatedFailed, type.name, type.name);
        return false;
    }
    ++repeated->fillIndex;
    return true;
}

} // namespace apmpb

bool APMPBDecodeStringCallback(pb_istream_t* stream, const pb_field_t*, void** arg)
{
    // The last occurrence of a singular string wins, as for every other
    // singular field (the storing pass of a two-pass decode reads it again).
    void** slot = arg ? static_cast<void**>(*arg) : nullptr;
    if (!slot)
        return false;
    if (!*slot)
        *slot = std::calloc(1, sizeof(APMPBString));
    return *slot && readString(stream, static_cast<APMPBString*>(*slot));
}

bool APMPBDecodeRepeatedStringCallback(pb_istream_t* stream, const pb_field_t*, void** arg)
{
    auto* repeated = arg ? static_cast<APMPBRepeated*>(*arg) : nullptr;
    if (!repeated)
        return false;
    const ElementStep step = nextElement(stream, repeated, true, "String");
    if (step != ElementStep::Store)
        return step == ElementStep::Counted;
    auto* string = static_cast<APMPBString*>(std::calloc(1, sizeof(APMPBString)));
    repeated->elements[repeated->fillIndex] = string;
    if (!string || !readString(stream, string))
        return false;
    ++repeated->fillIndex;
    return true;
}

bool APMPBDecodeRepeatedVarintCallback(pb_istream_t* stream, const pb_field_t*, void** arg)
{
    auto* repeated = arg ? static_cast<APMPBRepeated*>(*arg) : nullptr;
    if (!repeated)
        return false;
    if (stream->bytes_left == 0)
        return true; // an empty packed run holds no elements
    uint64_t value = 0;
    if (!pb_decode_varint(stream, &value))
        return false;
    const ElementStep step = nextElement(stream, repeated, false, "Varint");
    if (step != ElementStep::Store)
        return step == ElementStep::Counted;
    void* cell = nullptr;
    if (!APMPBStoreUInt64(&cell, value))
        return false;
    repeated->elements[repeated->fillIndex++] = cell;
    return true;
}
