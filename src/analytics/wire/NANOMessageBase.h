#pragma once

#include "analytics/wire/APMPBMessageInfo.h"

#include <QByteArray>

#include <optional>

namespace apmpb {
struct MessageType;
}

// What every wire-message object offers: it owns one message record, encodes
// it, and hands out its type's record operations for generic code. The
// message classes (APMPBEvent, APMPBMeasurementBundle, ...) also offer the
// static initialisers initWithMessageInfo(record) and initWithBuffer(bytes).
// Fields are read and written through APMPBFieldAccess.h.
class NANOMessageBase {
public:
    virtual ~NANOMessageBase() = default;
    NANOMessageBase(const NANOMessageBase&) = delete;
    NANOMessageBase& operator=(const NANOMessageBase&) = delete;

    // The encoding, or nothing when the message cannot be encoded. An empty
    // message gives an empty byte array.
    virtual std::optional<QByteArray> protoBuffer() const = 0;
    // The type's name, the class name less "APMPB" ("Event", "MeasurementBundle").
    virtual const char* messageID() const = 0;
    // The record, lent: valid while the object lives; never free it.
    virtual APMPBMessageInfo* messageInfo() = 0;
    virtual const APMPBMessageInfo* messageInfo() const = 0;
    // The record, handed over: the caller frees it with the type's
    // operation, and the object is left without one (its accessors refuse it).
    virtual APMPBMessageInfo* takeMessageInfo() = 0;
    virtual APMPBInitMessageInfoFn initMessageInfoFn() const = 0;
    virtual APMPBDeallocMessageFieldFn deallocMessageFieldFn() const = 0;
    virtual APMPBCopyMessageInfoFn copyMessageInfoFn() const = 0;
    // The type's schema: slot count, flags and submessage types.
    virtual const apmpb::MessageType& messageType() const = 0;

protected:
    NANOMessageBase() = default;
};
