#pragma once

#include "analytics/wire/NANOMessageBase.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <vector>

// Typed access to single fields of a message object, addressed by slot (the
// 0-based position in the type's schema, not the wire tag). Every getter
// returns copies and every setter stores copies: to change a nested message,
// read it, change the copy and set it back.
//
// Misuse never fails loudly: a message without a record, a slot outside the
// type, a slot of another kind or an element of the wrong kind is logged
// (qWarning) and the call gives its neutral result (false, 0, a null
// QString, nothing) or, for the setters, changes nothing. A refused array
// leaves the field empty.

// True for every repeated slot (even when empty); otherwise whether the slot is set.
bool APMPBHasField(const NANOMessageBase* message, int32_t field);
// Unsets the slot; empties a repeated slot.
void APMPBClearField(NANOMessageBase* message, int32_t field);

// bool slots.
bool APMPBGetBoolField(const NANOMessageBase* message, int32_t field);
void APMPBSetBoolField(NANOMessageBase* message, int32_t field, bool value);
// enum, int32 and uint32 slots (the same 32 bits; read uint32 and enum values as unsigned where they are).
int32_t APMPBGetInt32Field(const NANOMessageBase* message, int32_t field);
void APMPBSetInt32Field(NANOMessageBase* message, int32_t field, int32_t value);
// int64 and uint64 slots.
int64_t APMPBGetInt64Field(const NANOMessageBase* message, int32_t field);
void APMPBSetInt64Field(NANOMessageBase* message, int32_t field, int64_t value);
float APMPBGetFloatField(const NANOMessageBase* message, int32_t field);
void APMPBSetFloatField(NANOMessageBase* message, int32_t field, float value);
double APMPBGetDoubleField(const NANOMessageBase* message, int32_t field);
void APMPBSetDoubleField(NANOMessageBase* message, int32_t field, double value);

// string slots. A null QString stands for "no value": the getter returns it
// when the slot is unset or its bytes are not valid UTF-8, the setter clears
// the slot with it. An empty (non-null) string is a present value.
QString APMPBGetStringField(const NANOMessageBase* message, int32_t field);
void APMPBSetStringField(NANOMessageBase* message, int32_t field, const QString& value);
// bytes slots (string slots are accepted too: both share one record). A null
// QByteArray stands for "no value".
QByteArray APMPBGetBytesField(const NANOMessageBase* message, int32_t field);
void APMPBSetBytesField(NANOMessageBase* message, int32_t field, const QByteArray& value);

// Singular message slots. The getter gives a copy as an object of class C,
// or nothing when the slot is unset or holds another type; the setter stores a
// copy of value (nullptr clears) and refuses a message of another type.
template <class C> std::unique_ptr<C> APMPBGetMessageField(const NANOMessageBase* message, int32_t field);
void APMPBSetMessageField(NANOMessageBase* message, int32_t field, const NANOMessageBase* value);

// Repeated scalar, string and bytes slots, as QVariants: bool, qint32 (int32
// and enum), quint32, qint64, quint64, float, double, QString, QByteArray.
// Elements that do not convert (invalid UTF-8) are left out.
QVariantList APMPBGetArrayField(const NANOMessageBase* message, int32_t field);
// Repeated message slots: copies of the elements as objects of class C;
// elements of another type are left out.
template <class C>
std::vector<std::unique_ptr<C>> APMPBGetArrayField(const NANOMessageBase* message, int32_t field);
// Repeated message slots: the elements themselves as objects of class C,
// taken out of the message, whose field is left empty, where reading them
// copies them. Nothing, and the field left alone, when C is of another type.
template <class C>
std::vector<std::unique_ptr<C>> APMPBTakeArrayField(NANOMessageBase* message, int32_t field);
// The string slot of every element of a repeated message slot, read in place
// without copying the elements (a null QString where it is unset or not
// UTF-8); nothing, logged, when either slot is of another kind.
QStringList APMPBGetStringFieldOfElements(const NANOMessageBase* message, int32_t arrayField, int32_t field);
// Replaces the elements of a repeated slot with copies of the values: numbers
// (any integer, floating-point or boolean QVariant) for numeric slots, QString
// for strings, QByteArray for bytes. An empty list empties the field; a value
// of the wrong kind is logged and leaves the field empty.
void APMPBSetArrayField(NANOMessageBase* message, int32_t field, const QVariantList& values);
// The same for repeated message slots; every element must be of the field's type.
void APMPBSetArrayField(
    NANOMessageBase* message, int32_t field, const std::vector<const NANOMessageBase*>& values);
template <class C>
void APMPBSetArrayField(
    NANOMessageBase* message, int32_t field, const std::vector<std::unique_ptr<C>>& values);
// The same, taking the elements' records over instead of copying them; the
// elements are consumed whether or not the field takes them.
template <class C>
void APMPBSetArrayField(NANOMessageBase* message, int32_t field, std::vector<std::unique_ptr<C>>&& values);

namespace apmpb {
// The element records taken over from the messages (see takeMessageInfo()).
void setMessageArrayTakingRecords(
    NANOMessageBase* message, int32_t field, const std::vector<NANOMessageBase*>& values);
// The record of a set singular message slot, or null (misuse logged).
const APMPBMessageInfo* messageFieldRecord(const NANOMessageBase* message, int32_t field);
// The element records of a repeated message slot, in order (misuse logged).
std::vector<const APMPBMessageInfo*> messageArrayRecords(const NANOMessageBase* message, int32_t field);
// The same records handed over, the field left empty; nothing when the
// field's elements are not of the type.
std::vector<APMPBMessageInfo*> takeMessageArrayRecords(
    NANOMessageBase* message, int32_t field, const MessageType& type);
} // namespace apmpb

template <class C> std::unique_ptr<C> APMPBGetMessageField(const NANOMessageBase* message, int32_t field)
{
    const APMPBMessageInfo* record = apmpb::messageFieldRecord(message, field);
    return record ? C::initWithMessageInfo(record) : nullptr;
}

template <class C>
std::vector<std::unique_ptr<C>> APMPBGetArrayField(const NANOMessageBase* message, int32_t field)
{
    std::vector<std::unique_ptr<C>> elements;
    for (const APMPBMessageInfo* record : apmpb::messageArrayRecords(message, field)) {
        if (auto element = C::initWithMessageInfo(record))
            elements.push_back(std::move(element));
    }
    return elements;
}

template <class C>
std::vector<std::unique_ptr<C>> APMPBTakeArrayField(NANOMessageBase* message, int32_t field)
{
    std::vector<std::unique_ptr<C>> elements;
    for (APMPBMessageInfo* record : apmpb::takeMessageArrayRecords(message, field, C::staticMessageType()))
        elements.push_back(C::initTakingMessageInfo(record));
    return elements;
}

template <class C>
void APMPBSetArrayField(
    NANOMessageBase* message, int32_t field, const std::vector<std::unique_ptr<C>>& values)
{
    std::vector<const NANOMessageBase*> elements;
    elements.reserve(values.size());
    for (const auto& value : values)
        elements.push_back(value.get());
    APMPBSetArrayField(message, field, elements);
}

template <class C>
void APMPBSetArrayField(NANOMessageBase* message, int32_t field, std::vector<std::unique_ptr<C>>&& values)
{
    std::vector<NANOMessageBase*> elements;
    elements.reserve(values.size());
    for (const auto& value : values)
        elements.push_back(value.get());
    apmpb::setMessageArrayTakingRecords(message, field, elements);
    values.clear();
}
