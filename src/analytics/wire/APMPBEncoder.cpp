// Encoding: message records to bytes through nanopb (see APMPBCodec.h).
#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBWireWriter.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <pb_encode.h>

namespace {

constexpr char kEncoderMissingArray[] = "<ERROR> %s Encoder: '%s' should have been allocated";
constexpr char kEncodeTooDeep[] = "<ERROR> %s encoder failed: message nested deeper than %d levels";

struct EncoderFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using EncoderHeapBlock = std::unique_ptr<void, EncoderFreeDeleter>;

uint64_t readRawCell(const void* cell)
{
    uint64_t value;
    std::memcpy(&value, cell, sizeof value);
    return value;
}

template <class T> void writeNano(void* data, T value)
{
    std::memcpy(data, &value, sizeof value);
}

void writeScalar(uint32_t flags, const void* cell, void* data)
{
    const uint64_t raw = readRawCell(cell);
    if (flags & APMPBFieldBool) {
        writeNano<bool>(data, *static_cast<const uint8_t*>(cell) != 0);
    } else if (flags & APMPBFieldEnum) {
        writeNano<int64_t>(data, static_cast<uint32_t>(raw));
    } else if (flags & APMPBFieldInt32) {
        writeNano<int32_t>(data, static_cast<int32_t>(static_cast<uint32_t>(raw)));
    } else if (flags & APMPBFieldUInt32) {
        writeNano<uint32_t>(data, static_cast<uint32_t>(raw));
    } else if (flags & APMPBFieldInt64) {
        writeNano<int64_t>(data, static_cast<int64_t>(raw));
    } else if (flags & APMPBFieldUInt64) {
        writeNano<uint64_t>(data, raw);
    } else if (flags & APMPBFieldFloat) {
        float value;
        std::memcpy(&value, cell, sizeof value);
        writeNano(data, value);
    } else if (flags & APMPBFieldDouble) {
        double value;
        std::memcpy(&value, cell, sizeof value);
        writeNano(data, value);
    }
}

// Room reserved before encoding into a byte array: most messages fit.
constexpr qsizetype kEncoderInitialCapacity = 512;

bool appendToByteArray(pb_ostream_t* stream, const pb_byte_t* bytes, size_t count)
{
    static_cast<QByteArray*>(stream->state)->append(reinterpret_cast<const char*>(bytes), qsizetype(count));
    return true;
}

// A submessage appended to a byte array in one pass, its length written in
// front of it afterwards: nanopb's own way measures the submessage first,
// and so every submessage inside it twice more at each level.
bool appendSubmessage(
    pb_ostream_t* stream, const pb_field_t* field, const pb_msgdesc_t* descriptor, const void* nano)
{
    static const pb_byte_t lengthPlace = 0;
    if (!pb_encode_tag_for_field(stream, field) || !pb_write(stream, &lengthPlace, 1))
        return false;
    auto* bytes = static_cast<QByteArray*>(stream->state);
    const qsizetype mark = bytes->size();
    if (!pb_encode(stream, descriptor, nano))
        return false;
    // The stream may be nanopb's window on a singular submessage around
    // this one, which counts its own bytes: the wider length is added.
    stream->bytes_written += static_cast<size_t>(APMPBWireWriter::writeLengthBefore(*bytes, mark));
    return true;
}

// The filled nanopb structure of a record, ready for pb_encode.
EncoderHeapBlock prepare(const apmpb::MessageType& type, const APMPBMessageInfo* info)
{
    if (!info)
        return nullptr;
    if (!apmpb::fitsNestingLimit(type, info)) {
        apmpb::printError(kEncodeTooDeep, type.name, apmpb::kMaxNestingDepth);
        return nullptr;
    }
    EncoderHeapBlock nano(std::calloc(1, type.nanoSize));
    if (!nano || !apmpb::fillEncoder(type, info, nano.get()))
        return nullptr;
    return nano;
}

} // namespace

namespace apmpb {

bool fillEncoder(const MessageType& type, const APMPBMessageInfo* info, void* nano)
{
    if (!isRecordOfType(type, info) || !nano)
        return false;
    return forEachField(type, nano, [&](uint32_t slot, pb_field_iter_t& field) {
        const uint32_t flags = type.fieldTypes[slot];
        void* value = info->values[slot];
        if (flags & APMPBFieldRepeated) {
            const auto* repeated = static_cast<const APMPBRepeated*>(value);
            if (!repeated) {
                printError(kEncoderMissingArray, type.name, type.slotInfo[slot].name);
                return false;
            }
            if (repeated->count == 0)
                return true;
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            if (flags & APMPBFieldMessage)
                callback->funcs.encode = type.slotInfo[slot].messageType->encodeRepeatedCallback;
            else if (flags & (APMPBFieldString | APMPBFieldBytes))
                callback->funcs.encode = APMPBEncodeRepeatedStringCallback;
            else
                callback->funcs.encode = APMPBEncodeRepeatedVarintCallback;
            callback->arg = value;
            return true;
        }
        if (!value)
            return true;
        if (flags & (APMPBFieldString | APMPBFieldBytes)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.encode = APMPBEncodeStringCallback;
            callback->arg = value;
            return true;
        }
        writeNano<bool>(field.pSize, true);
        if (flags & APMPBFieldMessage)
            return fillEncoder(
                *type.slotInfo[slot].messageType, static_cast<const APMPBMessageInfo*>(value), field.pData);
        writeScalar(flags, value, field.pData);
        return true;
    });
}

int64_t encode(const MessageType& type, const APMPBMessageInfo* info, uint8_t** buffer)
{
    if (!buffer || !info)
        return -1;
    *buffer = nullptr;
    EncoderHeapBlock nano = prepare(type, info);
    if (!nano)
        return -1;
    return APMPBEncodeToBuffer(type.descriptor, nano.get(), buffer);
}

std::optional<QByteArray> encodeToByteArray(const MessageType& type, const APMPBMessageInfo* info)
{
    EncoderHeapBlock nano = prepare(type, info);
    if (!nano)
        return std::nullopt;
    // One pass that appends as it goes, submessages included: measuring the
    // size first would walk the whole message an extra time.
    QByteArray bytes;
    bytes.reserve(kEncoderInitialCapacity);
    pb_ostream_t stream {};
    stream.callback = &appendToByteArray;
    stream.state = &bytes;
    stream.max_size = static_cast<size_t>(std::numeric_limits<qsizetype>::max() / 2);
    if (!pb_encode(&stream, type.descriptor, nano.get()))
        return std::nullopt;
    return bytes;
}

bool encodeRepeatedMessage(
    const MessageType& type, pb_ostream_t* stream, const pb_field_t* field, void* const* arg)
{
    const auto* repeated = arg ? static_cast<const APMPBRepeated*>(*arg) : nullptr;
    if (!repeated)
        return false;
    if (repeated->count == 0)
        return true;
    if (!repeated->elements)
        return false;
    for (uint32_t i = 0; i < repeated->count; ++i) {
        EncoderHeapBlock nano(std::calloc(1, type.nanoSize));
        const auto* element = static_cast<const APMPBMessageInfo*>(repeated->elements[i]);
        if (!nano || !fillEncoder(type, element, nano.get()))
            return false;
        if (stream->callback == &appendToByteArray) {
            if (!appendSubmessage(stream, field, type.descriptor, nano.get()))
                return false;
        } else if (!pb_encode_tag_for_field(stream, field)
            || !pb_encode_submessage(stream, type.descriptor, nano.get())) {
            return false;
        }
    }
    return true;
}

} // namespace apmpb

bool APMPBEncodeStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg)
{
    const auto* string = arg ? static_cast<const APMPBString*>(*arg) : nullptr;
    if (!string || !string->bytes)
        return false;
    return pb_encode_tag_for_field(stream, field) && pb_encode_string(stream, string->bytes, string->length);
}

bool APMPBEncodeRepeatedStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg)
{
    const auto* repeated = arg ? static_cast<const APMPBRepeated*>(*arg) : nullptr;
    if (!repeated || !repeated->elements)
        return false;
    for (uint32_t i = 0; i < repeated->count; ++i) {
        const auto* string = static_cast<const APMPBString*>(repeated->elements[i]);
        if (!string || !string->bytes || !pb_encode_tag_for_field(stream, field)
            || !pb_encode_string(stream, string->bytes, string->length))
            return false;
    }
    return true;
}

bool APMPBEncodeRepeatedVarintCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg)
{
    const auto* repeated = arg ? static_cast<const APMPBRepeated*>(*arg) : nullptr;
    if (!repeated || !repeated->elements)
        return false;
    for (uint32_t i = 0; i < repeated->count; ++i) {
        const void* cell = repeated->elements[i];
        if (!cell || !pb_encode_tag_for_field(stream, field) || !pb_encode_varint(stream, readRawCell(cell)))
            return false;
    }
    return true;
}

int64_t APMPBEncodeToBuffer(const pb_msgdesc_t* fields, const void* nano, uint8_t** buffer)
{
    if (!fields || !nano || !buffer)
        return -1;
    *buffer = nullptr;
    size_t size = 0;
    if (!pb_get_encoded_size(&size, fields, nano)
        || size > static_cast<size_t>(std::numeric_limits<int64_t>::max()))
        return -1;
    auto* bytes = static_cast<uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
    if (!bytes)
        return -1;
    pb_ostream_t stream = pb_ostream_from_buffer(bytes, size);
    if (!pb_encode(&stream, fields, nano)) {
        std::free(bytes);
        return -1;
    }
    *buffer = bytes;
    return static_cast<int64_t>(stream.bytes_written);
}
