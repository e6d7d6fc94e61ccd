// The array accessors of APMPBFieldAccess.h: repeated fields to and from
// QVariant lists and lists of message objects.
#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFieldSlot.h"

#include <QMetaType>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

using apmpb::FieldSlot;
using apmpb::firstByte;
using apmpb::readCell;
using apmpb::readCellAs;

namespace {

constexpr char kNotMessageArray[]
    = "<Nano/Failure> Field type isn't a repeated MESSAGE. Message: %s, field ID: %d";
constexpr char kArrayWrongMessageType[]
    = "<Nano/Failure> Message type doesn't match the field. Message: %s, field ID: %d, given: %s";
constexpr char kProvidedClass[]
    = "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s";
constexpr char kElementNotString[]
    = "<Nano/Failure> Field type isn't a scalar STRING. Message: %s, field ID: %d";
constexpr char kNullElement[] = "<ERROR> Unable to convert NULL data to an ObjC object";
constexpr char kUnknownToObject[] = "<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d";
constexpr char kUnknownToBytes[] = "<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d";
constexpr char kArrayAllocation[] = "<ERROR> Unable to set NULL data to an ObjC object";
constexpr char kInvalidBool[] = "<ERROR> Invalid object type. Boolean fields expect NSNumber. Type: %s";
constexpr char kInvalidInt32[] = "<ERROR> Invalid object type. Int32 fields expect NSNumber. Type: %s";
constexpr char kInvalidInt64[] = "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: %s";
constexpr char kInvalidFloat[] = "<ERROR> Invalid object type. Float fields expect NSNumber. Type: %s";
constexpr char kInvalidDouble[] = "<ERROR> Invalid object type. Double fields expect NSNumber. Type: %s";
constexpr char kInvalidEnum[] = "<ERROR> Invalid object type. Enum fields expect NSNumber. Type: %s";
constexpr char kInvalidString[] = "<ERROR> Invalid object type. String fields expect NSString. Type: %s";
constexpr char kInvalidBytes[] = "<ERROR> Invalid object type. Bytes fields expect NSData. Type: %s";
constexpr char kInvalidMessage[]
    = "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: %s";
constexpr char kVariantClass[] = "QVariant";

bool isArrayNumber(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

bool isFloating(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::Float || id == QMetaType::Double;
}

bool isUnsigned64(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::ULongLong || id == QMetaType::ULong;
}

// Truncates toward zero, saturating at the int64 range; NaN reads as 0.
int64_t int64FromDouble(double d)
{
    if (std::isnan(d))
        return 0;
    constexpr double kTwo63 = 9223372036854775808.0;
    if (d >= kTwo63)
        return std::numeric_limits<int64_t>::max();
    if (d < -kTwo63)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

float floatFromDouble(double d)
{
    if (d > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (d < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

bool booleanReading(const QVariant& v)
{
    if (isFloating(v))
        return v.toDouble() != 0.0;
    if (isUnsigned64(v))
        return v.toULongLong() != 0;
    return v.toLongLong() != 0;
}

int64_t int64Reading(const QVariant& v)
{
    if (isFloating(v))
        return int64FromDouble(v.toDouble());
    if (isUnsigned64(v))
        return static_cast<int64_t>(v.toULongLong());
    return v.toLongLong();
}

double doubleReading(const QVariant& v)
{
    if (isFloating(v))
        return v.toDouble();
    if (isUnsigned64(v))
        return static_cast<double>(v.toULongLong());
    return static_cast<double>(v.toLongLong());
}

float floatReading(const QVariant& v)
{
    if (isFloating(v))
        return floatFromDouble(v.toDouble());
    if (isUnsigned64(v))
        return static_cast<float>(v.toULongLong());
    return static_cast<float>(v.toLongLong());
}

const char* variantTypeName(const QVariant& v)
{
    return v.isValid() ? v.typeName() : "(invalid)";
}

// The diagnostic for an element that does not fit the slot's element type.
const char* invalidElementMessage(uint32_t flags)
{
    if (flags & APMPBFieldBool)
        return kInvalidBool;
    if (flags & (APMPBFieldInt32 | APMPBFieldUInt32))
        return kInvalidInt32;
    if (flags & (APMPBFieldInt64 | APMPBFieldUInt64))
        return kInvalidInt64;
    if (flags & APMPBFieldFloat)
        return kInvalidFloat;
    if (flags & APMPBFieldDouble)
        return kInvalidDouble;
    if (flags & APMPBFieldEnum)
        return kInvalidEnum;
    if (flags & APMPBFieldString)
        return kInvalidString;
    if (flags & APMPBFieldBytes)
        return kInvalidBytes;
    return kInvalidMessage;
}

constexpr uint32_t kKnownElementTypes = APMPBFieldBool | APMPBFieldEnum | APMPBFieldInt32 | APMPBFieldUInt32
    | APMPBFieldInt64 | APMPBFieldUInt64 | APMPBFieldFloat | APMPBFieldDouble | APMPBFieldString
    | APMPBFieldBytes | APMPBFieldMessage;

// One stored element for a QVariant, or null (logged) when it does not fit.
void* elementFromVariant(uint32_t flags, const QVariant& v)
{
    void* element = nullptr;
    if (flags & (APMPBFieldString | APMPBFieldBytes)) {
        const bool text = flags & APMPBFieldString;
        if (v.metaType().id() == (text ? QMetaType::QString : QMetaType::QByteArray)) {
            const bool stored = text ? APMPBStoreNSString(&element, v.toString())
                                     : APMPBStoreNSData(&element, v.toByteArray());
            if (!stored) {
                std::free(element);
                return nullptr;
            }
            return element;
        }
    } else if (!(flags & APMPBFieldMessage) && isArrayNumber(v)) {
        if (flags & APMPBFieldBool)
            APMPBStoreBool(&element, booleanReading(v));
        else if (flags & (APMPBFieldInt32 | APMPBFieldUInt32 | APMPBFieldEnum))
            APMPBStoreUInt32(&element, static_cast<uint32_t>(int64Reading(v)));
        else if (flags & (APMPBFieldInt64 | APMPBFieldUInt64))
            APMPBStoreUInt64(&element, static_cast<uint64_t>(int64Reading(v)));
        else if (flags & APMPBFieldFloat)
            APMPBStoreFloat(&element, floatReading(v));
        else if (flags & APMPBFieldDouble)
            APMPBStoreDouble(&element, doubleReading(v));
        return element;
    }
    qWarning(invalidElementMessage(flags), variantTypeName(v));
    return nullptr;
}

void freeBuilt(const FieldSlot& slot, std::vector<void*>& built)
{
    const apmpb::Slot& info = slot.type->slotInfo[slot.index];
    for (void* element : built) {
        if (slot.flags & APMPBFieldMessage) {
            info.messageType->freeMessageInfo(static_cast<APMPBMessageInfo*>(element));
        } else {
            if (slot.flags & (APMPBFieldString | APMPBFieldBytes))
                APMPBFreeStringStorage(static_cast<APMPBString*>(element));
            std::free(element);
        }
    }
    built.clear();
}

// Whether the message can be an element of the repeated message slot (a
// refusal is logged).
bool isElementOfSlot(const FieldSlot& slot, const NANOMessageBase* value)
{
    if (!(slot.flags & APMPBFieldMessage) || !value) {
        const QByteArray className = value ? QByteArray("APMPB") + value->messageID() : QByteArray("(null)");
        qWarning(invalidElementMessage(slot.flags), className.constData());
        return false;
    }
    if (&value->messageType() != slot.type->slotInfo[slot.index].messageType) {
        qWarning(kArrayWrongMessageType, slot.info->name, static_cast<int>(slot.index), value->messageID());
        return false;
    }
    return true;
}

// Builds every element first, then replaces the field's elements with them;
// on the first element that does not fit, the field is left empty.
template <class Make> void setArray(NANOMessageBase* message, int32_t field, std::size_t count, Make&& make)
{
    std::optional<FieldSlot> slot = FieldSlot::reachRepeated(message, field, "SetArray");
    if (!slot)
        return;
    if (!(slot->flags & kKnownElementTypes)) {
        qWarning(kUnknownToBytes, static_cast<int>(slot->flags));
        slot->clear(message);
        return;
    }
    std::vector<void*> built;
    built.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        void* element = make(*slot, i);
        if (!element) {
            freeBuilt(*slot, built);
            slot->clear(message);
            return;
        }
        built.push_back(element);
    }
    slot->clear(message);
    if (built.empty())
        return;
    auto* repeated = static_cast<APMPBRepeated*>(slot->value());
    repeated->elements = static_cast<void**>(std::calloc(built.size(), sizeof(void*)));
    if (!repeated->elements || built.size() > UINT32_MAX) {
        qWarning(kArrayAllocation);
        std::free(repeated->elements);
        repeated->elements = nullptr;
        freeBuilt(*slot, built);
        return;
    }
    std::memcpy(repeated->elements, built.data(), built.size() * sizeof(void*));
    repeated->count = static_cast<uint32_t>(built.size());
}

} // namespace

QVariantList APMPBGetArrayField(const NANOMessageBase* message, int32_t field)
{
    std::optional<FieldSlot> slot = FieldSlot::reachRepeated(message, field, "GetArray");
    if (!slot)
        return {};
    const auto* repeated = static_cast<const APMPBRepeated*>(slot->value());
    QVariantList values;
    if (!repeated->elements)
        return values;
    const uint32_t flags = slot->flags;
    for (uint32_t i = 0; i < repeated->count; ++i) {
        const void* element = repeated->elements[i];
        if (!element) {
            qWarning(kNullElement);
            continue;
        }
        if (flags & APMPBFieldBool) {
            values.append(firstByte(element) != 0);
        } else if (flags & APMPBFieldInt32) {
            values.append(static_cast<qint32>(static_cast<uint32_t>(readCell(element))));
        } else if (flags & APMPBFieldUInt32) {
            values.append(static_cast<quint32>(readCell(element)));
        } else if (flags & APMPBFieldInt64) {
            values.append(static_cast<qint64>(readCell(element)));
        } else if (flags & APMPBFieldUInt64) {
            values.append(static_cast<quint64>(readCell(element)));
        } else if (flags & APMPBFieldFloat) {
            values.append(readCellAs<float>(element));
        } else if (flags & APMPBFieldDouble) {
            values.append(readCellAs<double>(element));
        } else if (flags & APMPBFieldEnum) {
            values.append(static_cast<qint32>(static_cast<uint32_t>(readCell(element))));
        } else if (flags & APMPBFieldString) {
            const QString text = apmpb::decodeUtf8(static_cast<const APMPBString*>(element));
            if (!text.isNull())
                values.append(text);
        } else if (flags & APMPBFieldBytes) {
            const auto* string = static_cast<const APMPBString*>(element);
            if (string->bytes)
                values.append(QByteArray(reinterpret_cast<const char*>(string->bytes), string->length));
        } else if (flags & APMPBFieldMessage) {
            // Message elements are read with their class: APMPBGetArrayField<C>.
            qWarning(kProvidedClass, kVariantClass);
        } else {
            qWarning(kUnknownToObject, static_cast<int>(flags));
        }
    }
    return values;
}

void APMPBSetArrayField(NANOMessageBase* message, int32_t field, const QVariantList& values)
{
    setArray(
        message, field, static_cast<std::size_t>(values.size()), [&](const FieldSlot& slot, std::size_t i) {
            return elementFromVariant(slot.flags, values[static_cast<qsizetype>(i)]);
        });
}

void APMPBSetArrayField(
    NANOMessageBase* message, int32_t field, const std::vector<const NANOMessageBase*>& values)
{
    setArray(message, field, values.size(), [&](const FieldSlot& slot, std::size_t i) -> void* {
        const NANOMessageBase* value = values[i];
        if (!isElementOfSlot(slot, value))
            return nullptr;
        APMPBMessageInfo* copy = nullptr;
        return value->copyMessageInfoFn()(&copy, value->messageInfo()) ? copy : nullptr;
    });
}

QStringList APMPBGetStringFieldOfElements(const NANOMessageBase* message, int32_t arrayField, int32_t field)
{
    QStringList texts;
    const std::vector<const APMPBMessageInfo*> records = apmpb::messageArrayRecords(message, arrayField);
    if (records.empty())
        return texts;
    const apmpb::MessageType& type = *message->messageType().slotInfo[arrayField].messageType;
    const uint32_t flags = field >= 0 && uint32_t(field) < type.slotCount ? type.fieldTypes[field] : 0;
    if (!(flags & APMPBFieldString) || (flags & APMPBFieldRepeated)) {
        qWarning(kElementNotString, type.name, field);
        return texts;
    }
    texts.reserve(qsizetype(records.size()));
    for (const APMPBMessageInfo* record : records)
        texts.append(apmpb::decodeUtf8(static_cast<const APMPBString*>(record->values[field])));
    return texts;
}

namespace apmpb {

void setMessageArrayTakingRecords(
    NANOMessageBase* message, int32_t field, const std::vector<NANOMessageBase*>& values)
{
    setArray(message, field, values.size(), [&](const FieldSlot& slot, std::size_t i) -> void* {
        NANOMessageBase* value = values[i];
        if (!isElementOfSlot(slot, value))
            return nullptr;
        return value->takeMessageInfo();
    });
}

std::vector<const APMPBMessageInfo*> messageArrayRecords(const NANOMessageBase* message, int32_t field)
{
    std::vector<const APMPBMessageInfo*> records;
    std::optional<FieldSlot> slot = FieldSlot::reachRepeated(message, field, "GetArray");
    if (!slot)
        return records;
    if (!(slot->flags & APMPBFieldMessage)) {
        qWarning(kNotMessageArray, slot->info->name, field);
        return records;
    }
    const auto* repeated = static_cast<const APMPBRepeated*>(slot->value());
    if (!repeated->elements)
        return records;
    for (uint32_t i = 0; i < repeated->count; ++i) {
        if (repeated->elements[i])
            records.push_back(static_cast<const APMPBMessageInfo*>(repeated->elements[i]));
        else
            qWarning(kNullElement);
    }
    return records;
}

std::vector<APMPBMessageInfo*> takeMessageArrayRecords(
    NANOMessageBase* message, int32_t field, const MessageType& type)
{
    std::vector<APMPBMessageInfo*> records;
    std::optional<FieldSlot> slot = FieldSlot::reachRepeated(message, field, "TakeArray");
    if (!slot)
        return records;
    if (!(slot->flags & APMPBFieldMessage)) {
        qWarning(kNotMessageArray, slot->info->name, field);
        return records;
    }
    if (slot->type->slotInfo[slot->index].messageType != &type)
        return records;
    auto* repeated = static_cast<APMPBRepeated*>(slot->value());
    if (repeated->elements) {
        for (uint32_t i = 0; i < repeated->count; ++i) {
            if (repeated->elements[i])
                records.push_back(static_cast<APMPBMessageInfo*>(repeated->elements[i]));
            else
                qWarning(kNullElement);
        }
    }
    // The elements are the caller's now: only their array goes.
    APMPBFreeArrayStorage(repeated);
    return records;
}

} // namespace apmpb
