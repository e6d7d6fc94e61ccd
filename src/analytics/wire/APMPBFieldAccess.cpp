#include "analytics/wire/APMPBFieldAccess.h"

#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBFieldSlot.h"

#include <optional>

using apmpb::FieldSlot;
using apmpb::firstByte;
using apmpb::readCell;
using apmpb::readCellAs;

namespace {

constexpr char kHasFieldNotInitialized[] = "ProtocolBuffer message hasn't been initialized. HasField "
                                           "operation can't be performed. Message name %s";
constexpr char kWrongMessageType[]
    = "<Nano/Failure> Message type doesn't match the field. Message: %s, field ID: %d, given: %s";

} // namespace

bool APMPBHasField(const NANOMessageBase* message, int32_t field)
{
    const APMPBMessageInfo* info = message ? message->messageInfo() : nullptr;
    if (!info || !info->values) {
        qWarning(kHasFieldNotInitialized, message ? message->messageID() : "(null)");
        return false;
    }
    std::optional<FieldSlot> slot = FieldSlot::reach(message, field, "HasField");
    if (!slot)
        return false;
    return (slot->flags & APMPBFieldRepeated) || slot->value() != nullptr;
}

void APMPBClearField(NANOMessageBase* message, int32_t field)
{
    if (std::optional<FieldSlot> slot = FieldSlot::reach(message, field, "ClearField"))
        slot->clear(message);
}

bool APMPBGetBoolField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot = FieldSlot::reachScalar(message, field, "GetBool", APMPBFieldBool, "BOOL");
    return slot && slot->value() && firstByte(slot->value()) == 1;
}

void APMPBSetBoolField(NANOMessageBase* message, int32_t field, bool value)
{
    if (std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetBool", APMPBFieldBool, "BOOL"))
        APMPBStoreUInt32(&slot->value(), value ? 1 : 0);
}

constexpr uint32_t kInt32Types = APMPBFieldEnum | APMPBFieldInt32 | APMPBFieldUInt32;
constexpr uint32_t kInt64Types = APMPBFieldInt64 | APMPBFieldUInt64;

int32_t APMPBGetInt32Field(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot = FieldSlot::reachScalar(message, field, "GetInt32", kInt32Types, "INT32");
    if (!slot || !slot->value())
        return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(readCell(slot->value())));
}

void APMPBSetInt32Field(NANOMessageBase* message, int32_t field, int32_t value)
{
    if (std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetInt32", kInt32Types, "INT32"))
        APMPBStoreUInt32(&slot->value(), static_cast<uint32_t>(value));
}

int64_t APMPBGetInt64Field(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot = FieldSlot::reachScalar(message, field, "GetInt64", kInt64Types, "INT64");
    if (!slot || !slot->value())
        return 0;
    return static_cast<int64_t>(readCell(slot->value()));
}

void APMPBSetInt64Field(NANOMessageBase* message, int32_t field, int64_t value)
{
    if (std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetInt64", kInt64Types, "INT64"))
        APMPBStoreUInt64(&slot->value(), static_cast<uint64_t>(value));
}

float APMPBGetFloatField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "GetFloat", APMPBFieldFloat, "FLOAT");
    return slot && slot->value() ? readCellAs<float>(slot->value()) : 0.0f;
}

void APMPBSetFloatField(NANOMessageBase* message, int32_t field, float value)
{
    if (std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetFloat", APMPBFieldFloat, "FLOAT"))
        APMPBStoreFloat(&slot->value(), value);
}

double APMPBGetDoubleField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "GetDouble", APMPBFieldDouble, "DOUBLE");
    return slot && slot->value() ? readCellAs<double>(slot->value()) : 0.0;
}

void APMPBSetDoubleField(NANOMessageBase* message, int32_t field, double value)
{
    if (std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetDouble", APMPBFieldDouble, "DOUBLE"))
        APMPBStoreDouble(&slot->value(), value);
}

QString APMPBGetStringField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "GetString", APMPBFieldString, "STRING");
    return slot ? apmpb::decodeUtf8(static_cast<const APMPBString*>(slot->value())) : QString();
}

void APMPBSetStringField(NANOMessageBase* message, int32_t field, const QString& value)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetString", APMPBFieldString, "STRING");
    if (!slot)
        return;
    if (value.isNull()) {
        slot->clear(message);
        return;
    }
    APMPBStoreNSString(&slot->value(), value);
}

constexpr uint32_t kByteTypes = APMPBFieldBytes | APMPBFieldString;

QByteArray APMPBGetBytesField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot = FieldSlot::reachScalar(message, field, "GetBytes", kByteTypes, "BYTES");
    const auto* string = slot ? static_cast<const APMPBString*>(slot->value()) : nullptr;
    if (!string || !string->bytes)
        return {};
    return QByteArray(reinterpret_cast<const char*>(string->bytes), static_cast<qsizetype>(string->length));
}

void APMPBSetBytesField(NANOMessageBase* message, int32_t field, const QByteArray& value)
{
    std::optional<FieldSlot> slot = FieldSlot::reachScalar(message, field, "SetBytes", kByteTypes, "BYTES");
    if (!slot)
        return;
    if (value.isNull()) {
        slot->clear(message);
        return;
    }
    APMPBStoreNSData(&slot->value(), value);
}

void APMPBSetMessageField(NANOMessageBase* message, int32_t field, const NANOMessageBase* value)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "SetMessage", APMPBFieldMessage, "MESSAGE");
    if (!slot)
        return;
    if (!value) {
        slot->clear(message);
        return;
    }
    if (&value->messageType() != slot->type->slotInfo[slot->index].messageType) {
        qWarning(kWrongMessageType, slot->info->name, field, value->messageID());
        return;
    }
    // Copied before the old value goes, so a message may be stored into itself.
    APMPBMessageInfo* copy = nullptr;
    if (!value->copyMessageInfoFn()(&copy, value->messageInfo()))
        return;
    slot->clear(message);
    slot->value() = copy;
}

namespace apmpb {

const APMPBMessageInfo* messageFieldRecord(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot
        = FieldSlot::reachScalar(message, field, "GetMessage", APMPBFieldMessage, "MESSAGE");
    return slot ? static_cast<const APMPBMessageInfo*>(slot->value()) : nullptr;
}

} // namespace apmpb
