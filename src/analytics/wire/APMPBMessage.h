#pragma once

#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/NANOMessageBase.h"

#include <QByteArray>

#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

// The body shared by every message class, bound to one message type. Each
// class derives from its own instantiation:
//
//   class APMPBEvent final : public APMPBMessage<APMPBEvent, APMPBEventMessageType> { ... };
template <class Derived, const apmpb::MessageType& Type> class APMPBMessage : public NANOMessageBase {
public:
    ~APMPBMessage() override
    {
        if (_messageInfo)
            Type.freeMessageInfo(_messageInfo);
    }

    // With no record: an empty message (every slot unset, every repeated
    // field empty). With a record: a message holding a deep copy of it;
    // nothing when the record is of another type or cannot be copied.
    static std::unique_ptr<Derived> initWithMessageInfo(const APMPBMessageInfo* info = nullptr)
    {
        APMPBMessageInfo* record = nullptr;
        if (info) {
            if (!Type.copyMessageInfo(&record, info))
                return nullptr;
        } else {
            record = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
            if (!record)
                return nullptr;
            if (!Type.initMessageInfo(record)) {
                Type.freeMessageInfo(record);
                return nullptr;
            }
        }
        return std::unique_ptr<Derived>(new Derived(record));
    }

    // A message holding the record itself, which must be of the type (the
    // message frees it); nothing for a null record.
    static std::unique_ptr<Derived> initTakingMessageInfo(APMPBMessageInfo* record)
    {
        return record ? std::unique_ptr<Derived>(new Derived(record)) : nullptr;
    }
    static const apmpb::MessageType& staticMessageType() { return Type; }

    // The decoded message; nothing when the bytes do not decode. Empty bytes
    // give an empty message.
    static std::unique_ptr<Derived> initWithBuffer(const QByteArray& data)
    {
        auto* record = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
        if (!record)
            return nullptr;
        if (!Type.initMessageInfo(record)
            || !apmpb::decode(Type, reinterpret_cast<const uint8_t*>(data.constData()),
                static_cast<size_t>(data.size()), record)) {
            Type.freeMessageInfo(record);
            return nullptr;
        }
        // The decoded record is adopted as it is: a deep copy would only repeat it.
        return std::unique_ptr<Derived>(new Derived(record));
    }

    std::optional<QByteArray> protoBuffer() const override
    {
        return apmpb::encodeToByteArray(Type, _messageInfo);
    }
    const char* messageID() const override { return Type.name; }
    APMPBMessageInfo* messageInfo() override { return _messageInfo; }
    const APMPBMessageInfo* messageInfo() const override { return _messageInfo; }
    APMPBMessageInfo* takeMessageInfo() override { return std::exchange(_messageInfo, nullptr); }
    APMPBInitMessageInfoFn initMessageInfoFn() const override { return Type.initMessageInfo; }
    APMPBDeallocMessageFieldFn deallocMessageFieldFn() const override { return Type.deallocField; }
    APMPBCopyMessageInfoFn copyMessageInfoFn() const override { return Type.copyMessageInfo; }
    const apmpb::MessageType& messageType() const override { return Type; }

protected:
    // Takes ownership of an initialised record.
    explicit APMPBMessage(APMPBMessageInfo* info)
        : _messageInfo(info)
    {
    }

private:
    APMPBMessageInfo* _messageInfo;
};
