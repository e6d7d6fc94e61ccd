#include "analytics/wire/APMPBFieldSlot.h"

#include "analytics/wire/APMPBCodec.h"

#include <QStringDecoder>

namespace {

constexpr char kNotInitialized[] = "ProtocolBuffer message hasn't been initialized. %s can't be performed";
constexpr char kOutOfRange[] = "<Nano/Failure> Field ID out of range. Message: %s, field ID: %d";
constexpr char kWrongScalar[] = "<Nano/Failure> Field type isn't a scalar %s. Message: %s, field ID: %d";
constexpr char kNotRepeated[] = "<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d";
constexpr char kRepeatedNotAllocated[] = "<ERROR> Repeated field should have been allocated";

} // namespace

namespace apmpb {

std::optional<FieldSlot> FieldSlot::reach(
    const NANOMessageBase* message, int32_t field, const char* operation)
{
    // The accessors change records through the objects handed to them; the
    // constness of an object only tells which accessors merely read.
    auto* info = message ? const_cast<APMPBMessageInfo*>(message->messageInfo()) : nullptr;
    if (!info || !info->values || !info->fieldTypes) {
        qWarning(kNotInitialized, operation);
        return std::nullopt;
    }
    const MessageType& type = message->messageType();
    if (field < 0 || static_cast<uint32_t>(field) >= type.slotCount) {
        qWarning(kOutOfRange, info->name, field);
        return std::nullopt;
    }
    const auto index = static_cast<uint32_t>(field);
    return FieldSlot { info, &type, index, info->fieldTypes[index] };
}

std::optional<FieldSlot> FieldSlot::reachScalar(
    const NANOMessageBase* message, int32_t field, const char* operation, uint32_t accepted, const char* kind)
{
    std::optional<FieldSlot> slot = reach(message, field, operation);
    if (slot && (!(slot->flags & accepted) || (slot->flags & APMPBFieldRepeated))) {
        qWarning(kWrongScalar, kind, slot->info->name, field);
        return std::nullopt;
    }
    return slot;
}

std::optional<FieldSlot> FieldSlot::reachRepeated(
    const NANOMessageBase* message, int32_t field, const char* operation)
{
    std::optional<FieldSlot> slot = reach(message, field, operation);
    if (!slot)
        return std::nullopt;
    if (!(slot->flags & APMPBFieldRepeated)) {
        qWarning(kNotRepeated, slot->info->name, field);
        return std::nullopt;
    }
    if (!slot->value()) {
        qWarning(kRepeatedNotAllocated);
        return std::nullopt;
    }
    return slot;
}

QString decodeUtf8(const APMPBString* string)
{
    if (!string || !string->bytes)
        return {};
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder(QByteArrayView(string->bytes, string->length));
    if (decoder.hasError())
        return {};
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}

bool isAscii(QStringView text)
{
    for (const QChar unit : text) {
        if (unit.unicode() >= 0x80)
            return false;
    }
    return true;
}

void narrowAscii(QStringView text, char* out)
{
    for (const QChar unit : text)
        *out++ = char(unit.unicode());
}

} // namespace apmpb

bool APMPBStoreNSString(void** slot, const QString& text)
{
    // Most texts stored are short ASCII names and values: narrowed on the
    // stack they need no converted copy on the heap.
    constexpr qsizetype kStackText = 256;
    if (text.size() <= kStackText && apmpb::isAscii(text)) {
        char narrowed[kStackText];
        apmpb::narrowAscii(text, narrowed);
        return APMPBStoreString(
            slot, reinterpret_cast<const uint8_t*>(narrowed), static_cast<size_t>(text.size()));
    }
    return APMPBStoreNSData(slot, text.toUtf8());
}

bool APMPBStoreNSData(void** slot, const QByteArray& data)
{
    return APMPBStoreString(
        slot, reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()));
}
