// The record-level codec: store routines, field freeing, copies, the two
// decoding passes, embedded submessages and the failure diagnostics.
#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBConfigurationSchema.h"
#include "analytics/wire/APMPBConsentConfig.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBFlag.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBPsmSetting.h"
#include "analytics/wire/APMPBRuntimeEntity.h"
#include "analytics/wire/APMPBSdkResponse.h"
#include "analytics/wire/APMPBStringFilter.h"
#include "analytics/wire/APMPBWireWriter.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Runs fn with standard output captured.
template <class Fn> std::string capture(Fn&& fn)
{
    testing::internal::CaptureStdout();
    fn();
    return testing::internal::GetCapturedStdout();
}

QByteArray raw(const char* bytes, int size)
{
    return QByteArray(bytes, size);
}

const uint8_t* data(const QByteArray& bytes)
{
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

APMPBMessageInfo* newRecord(const apmpb::MessageType& type)
{
    auto* info = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    EXPECT_TRUE(type.initMessageInfo(info));
    return info;
}

TEST(WireCodec, StoreRoutinesRefuseANullSlot)
{
    const std::string out = capture([] {
        EXPECT_FALSE(APMPBStoreBool(nullptr, true));
        EXPECT_FALSE(APMPBStoreUInt32(nullptr, 1));
        EXPECT_FALSE(APMPBStoreUInt64(nullptr, 1));
        EXPECT_FALSE(APMPBStoreFloat(nullptr, 1));
        EXPECT_FALSE(APMPBStoreDouble(nullptr, 1));
        EXPECT_FALSE(APMPBStoreString(nullptr, reinterpret_cast<const uint8_t*>("a"), 1));
        APMPBFreeStringStorage(nullptr);
        APMPBFreeArrayStorage(nullptr);
    });
    EXPECT_EQ(out,
        "<ERROR> Unable to set bool. Destination pointer is NULL\n"
        "<ERROR> Unable to set uint32. Destination pointer is NULL\n"
        "<ERROR> Unable to set uint64. Destination pointer is NULL\n"
        "<ERROR> Unable to set float. Destination pointer is NULL\n"
        "<ERROR> Unable to set double. Destination pointer is NULL\n"
        "<ERROR> Unable to set string. Destination array is NULL\n"
        "<ERROR> Unable to dealloc string field. String struct is NULL\n"
        "<ERROR> Unable to initialize the array. Array pointer is NULL\n");
}

TEST(WireCodec, StoreRoutinesAllocateOnceAndOverwrite)
{
    void* cell = nullptr;
    ASSERT_TRUE(APMPBStoreUInt32(&cell, 0xFFFFFFFFu));
    void* first = cell;
    uint64_t value = 0;
    std::memcpy(&value, cell, sizeof value);
    EXPECT_EQ(value, 0xFFFFFFFFull); // zero-extended
    ASSERT_TRUE(APMPBStoreBool(&cell, true));
    EXPECT_EQ(cell, first);
    std::memcpy(&value, cell, sizeof value);
    EXPECT_EQ(value, 1u);
    std::free(cell);

    void* string = nullptr;
    ASSERT_TRUE(APMPBStoreString(&string, reinterpret_cast<const uint8_t*>("abc"), 3));
    ASSERT_TRUE(APMPBStoreString(&string, reinterpret_cast<const uint8_t*>("de"), 2));
    auto* record = static_cast<APMPBString*>(string);
    EXPECT_EQ(record->length, 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(record->bytes), "de");
    ASSERT_TRUE(APMPBStoreString(&string, nullptr, 0)); // empty, but with bytes
    EXPECT_EQ(record->length, 0u);
    EXPECT_NE(record->bytes, nullptr);
    APMPBFreeStringStorage(record);
    EXPECT_EQ(record->bytes, nullptr);
    std::free(record);
}

TEST(WireCodec, DecodingNeedsARecord)
{
    const std::string out = capture([] { EXPECT_FALSE(APMPBEventDecode(nullptr, 0, nullptr)); });
    EXPECT_EQ(out, "<ERROR> Event decoder failed: message_info is NULL\n");
    EXPECT_FALSE(APMPBEventDeallocField(nullptr, 0));
    EXPECT_FALSE(APMPBEventFreeMessageInfo(nullptr));
    EXPECT_FALSE(APMPBEventInitMessageInfo(nullptr));
    EXPECT_EQ(APMPBEventEncode(nullptr, nullptr), -1);
    APMPBMessageInfo* copy = nullptr;
    EXPECT_FALSE(APMPBEventCopyMessageInfo(&copy, nullptr));
    EXPECT_FALSE(APMPBEventSetDecoders(nullptr, nullptr));
}

TEST(WireCodec, RepeatedMessagesAreCountedThenStoredInOrder)
{
    // Three parameters named a, b, c.
    const QByteArray bytes = raw("\x0a\x03\x0a\x01"
                                 "a"
                                 "\x0a\x03\x0a\x01"
                                 "b"
                                 "\x12\x01"
                                 "e"
                                 "\x0a\x03\x0a\x01"
                                 "c",
        18);
    APMPBMessageInfo* event = newRecord(APMPBEventMessageType);
    ASSERT_TRUE(APMPBEventDecode(data(bytes), static_cast<size_t>(bytes.size()), event));
    const auto* params = static_cast<const APMPBRepeated*>(event->values[0]);
    EXPECT_EQ(params->count, 3u);
    EXPECT_EQ(params->fillIndex, 3u);
    const char* expected[] = { "a", "b", "c" };
    for (uint32_t i = 0; i < 3; ++i) {
        const auto* param = static_cast<const APMPBMessageInfo*>(params->elements[i]);
        EXPECT_STREQ(param->name, "EventParam");
        const auto* name = static_cast<const APMPBString*>(param->values[0]);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(name->bytes), name->length), expected[i]);
    }
    EXPECT_TRUE(APMPBEventFreeMessageInfo(event));
}

TEST(WireCodec, EmbeddedSubmessagesAreSetOnlyWhenPresent)
{
    // consent_config absent, then present but empty.
    auto absent = APMPBMeasurementConfig::initWithBuffer(raw("\x08\x05", 2));
    ASSERT_TRUE(absent);
    EXPECT_FALSE(APMPBHasField(absent.get(), 12));
    EXPECT_FALSE(APMPBHasField(absent.get(), 13));
    auto empty = APMPBMeasurementConfig::initWithBuffer(raw("\x7a\x00", 2));
    ASSERT_TRUE(empty);
    ASSERT_TRUE(APMPBHasField(empty.get(), 12));
    auto consent = APMPBGetMessageField<APMPBConsentConfig>(empty.get(), 12);
    ASSERT_TRUE(consent);
    for (int slot : { 0, 1, 2, 4 })
        EXPECT_EQ(static_cast<const APMPBRepeated*>(consent->messageInfo()->values[slot])->count, 0u) << slot;
    EXPECT_FALSE(APMPBHasField(consent.get(), 3));
    EXPECT_EQ(empty->protoBuffer().value_or("<failed>"), raw("\x7a\x00", 2));

    // Declared defaults never appear in a record.
    auto psm = APMPBPsmSetting::initWithBuffer(QByteArray());
    ASSERT_TRUE(psm);
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_FALSE(APMPBHasField(psm.get(), slot));
    EXPECT_EQ(APMPBGetInt32Field(psm.get(), 0), 0);

    // A request without tag 1 leaves slot 0 unset and writes no tag 1.
    auto request = APMPBExperimentRequest::initWithBuffer(raw("\x12\x02\x0a\x00", 4));
    ASSERT_TRUE(request);
    EXPECT_FALSE(APMPBHasField(request.get(), 0));
    EXPECT_EQ(request->protoBuffer().value_or("<failed>"), raw("\x12\x02\x0a\x00", 4));

    // A flag holding only bool_value false.
    auto flag = APMPBFlag::initWithBuffer(raw("\x28\x00", 2));
    ASSERT_TRUE(flag);
    EXPECT_TRUE(APMPBHasField(flag.get(), 4));
    EXPECT_FALSE(APMPBGetBoolField(flag.get(), 4));
    for (int slot = 0; slot < 4; ++slot)
        EXPECT_FALSE(APMPBHasField(flag.get(), slot));
}

TEST(WireCodec, ListsInsideEmbeddedSubmessagesTakeTwoPasses)
{
    // property filter { filter { string_filter { expression_list: "x", "yz" } } }
    const QByteArray filter = raw("\x08\x07\x1a\x0b\x0a\x07\x22\x01"
                                  "x"
                                  "\x22\x02"
                                  "yz"
                                  "\x18\x01",
        15);
    auto property = APMPBPropertyFilter::initWithBuffer(filter);
    ASSERT_TRUE(property);
    auto outer = APMPBGetMessageField<APMPBFilter>(property.get(), 2);
    ASSERT_TRUE(outer);
    auto strings = APMPBGetMessageField<APMPBStringFilter>(outer.get(), 0);
    ASSERT_TRUE(strings);
    EXPECT_EQ(
        APMPBGetArrayField(strings.get(), 3), (QVariantList { QStringLiteral("x"), QStringLiteral("yz") }));
    EXPECT_EQ(APMPBGetInt32Field(property.get(), 0), 7);
    EXPECT_EQ(property->protoBuffer().value_or("<failed>"), filter);

    // sdk response { snapshot { experiments { experiment_id: 1 } experiments { experiment_id: 2 } } }
    const QByteArray response = raw("\x1a\x08\x12\x02\x08\x01\x12\x02\x08\x02", 10);
    auto sdk = APMPBSdkResponse::initWithBuffer(response);
    ASSERT_TRUE(sdk);
    const auto* snapshot = static_cast<const APMPBMessageInfo*>(sdk->messageInfo()->values[2]);
    ASSERT_NE(snapshot, nullptr);
    const auto* experiments = static_cast<const APMPBRepeated*>(snapshot->values[1]);
    EXPECT_EQ(experiments->count, 2u);
    EXPECT_EQ(experiments->fillIndex, 2u);
    EXPECT_EQ(sdk->protoBuffer().value_or("<failed>"), response);
}

TEST(WireCodec, RuntimeEntityTreesReencodeLevelByLevel)
{
    QByteArray tree = raw("\x08\x03\x22\x01"
                          "z",
        5);
    for (int level = 0; level < 6; ++level)
        tree = raw("\x08\x01\x12", 3) + QByteArray(1, char(tree.size())) + tree
            + raw("\x12\x02\x28\x01\x1a\x01"
                  "s",
                7);
    auto entity = APMPBRuntimeEntity::initWithBuffer(tree);
    ASSERT_TRUE(entity);
    EXPECT_EQ(entity->protoBuffer().value_or("<failed>"), tree);
    EXPECT_EQ(APMPBGetArrayField<APMPBRuntimeEntity>(entity.get(), 1).size(), 2u);
}

TEST(WireCodec, EncodingAnEmptyRecordGivesABufferOfLengthZero)
{
    APMPBMessageInfo* config = newRecord(APMPBMeasurementConfigMessageType);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    EXPECT_EQ(APMPBMeasurementConfigEncode(config, &buffer), 0);
    EXPECT_NE(buffer, nullptr);
    std::free(buffer);
    APMPBMeasurementConfigFreeMessageInfo(config);
}

TEST(WireCodec, AMissingRepeatedRecordFailsEncodingAndDecoding)
{
    APMPBMessageInfo* event = newRecord(APMPBEventMessageType);
    std::free(event->values[0]);
    event->values[0] = nullptr;
    uint8_t* buffer = nullptr;
    std::string out = capture([&] { EXPECT_EQ(APMPBEventEncode(event, &buffer), -1); });
    EXPECT_EQ(out, "<ERROR> Event Encoder: 'params' should have been allocated\n");
    EXPECT_EQ(buffer, nullptr);

    out = capture([&] {
        EXPECT_FALSE(APMPBEventDecode(data(raw("\x12\x01"
                                               "e",
                                          3)),
            3, event));
    });
    EXPECT_NE(out.find("<ERROR> Cannot allocate Event arrays. Missing params field (params)\n"
                       "<ERROR> Event decoder failed: Unable to allocate arrays\n"),
        std::string::npos)
        << out;
    EXPECT_TRUE(APMPBEventFreeMessageInfo(event));
}

TEST(WireCodec, FieldsAreFreedBySlot)
{
    auto event = APMPBEvent::initWithBuffer(raw("\x0a\x03\x0a\x01"
                                                "a"
                                                "\x12\x01"
                                                "e"
                                                "\x18\x05",
        10));
    ASSERT_TRUE(event);
    APMPBMessageInfo* info = event->messageInfo();
    EXPECT_TRUE(APMPBEventDeallocField(info, 1));
    EXPECT_EQ(info->values[1], nullptr);
    EXPECT_TRUE(APMPBEventDeallocField(info, 0));
    const auto* params = static_cast<const APMPBRepeated*>(info->values[0]);
    ASSERT_NE(params, nullptr); // the repeated record stays, empty
    EXPECT_EQ(params->count, 0u);
    EXPECT_EQ(params->elements, nullptr);
    EXPECT_EQ(event->protoBuffer().value_or("<failed>"), raw("\x18\x05", 2));
    const std::string out = capture([&] { EXPECT_FALSE(APMPBEventDeallocField(info, 5)); });
    EXPECT_EQ(out, "<ERROR> Event: Cannot deallocate field 5: Unknown field\n");
}

TEST(WireCodec, CopiesAreDeepAndReplaceTheDestination)
{
    auto source = APMPBMeasurementConfig::initWithBuffer(raw("\x08\x00\x12\x01"
                                                             "a"
                                                             "\x22\x04\x0a\x02"
                                                             "nm"
                                                             "\x82\x01\x02\x08\x05",
        16));
    ASSERT_TRUE(source);
    APMPBMessageInfo* copy = newRecord(APMPBMeasurementConfigMessageType);
    ASSERT_TRUE(APMPBMeasurementConfigCopyMessageInfo(&copy, source->messageInfo()));
    uint8_t* bytes = nullptr;
    const int64_t length = APMPBMeasurementConfigEncode(copy, &bytes);
    EXPECT_EQ(
        QByteArray(reinterpret_cast<const char*>(bytes), length), source->protoBuffer().value_or("<failed>"));
    std::free(bytes);
    // No block is shared: every pointer of the copy differs from the source's.
    for (uint32_t slot = 0; slot < APMPBMeasurementConfigMessageType.slotCount; ++slot) {
        if (copy->values[slot]) {
            EXPECT_NE(copy->values[slot], source->messageInfo()->values[slot]) << slot;
        }
    }
    // A record of another type is refused and the destination kept.
    auto flag = APMPBFlag::initWithMessageInfo();
    APMPBMessageInfo* kept = copy;
    EXPECT_FALSE(APMPBMeasurementConfigCopyMessageInfo(&copy, flag->messageInfo()));
    EXPECT_EQ(copy, kept);
    EXPECT_TRUE(APMPBMeasurementConfigFreeMessageInfo(copy));
}

TEST(WireCodec, PerTypeOperationsDriveNanopbDirectly)
{
    // Fill the nanopb structure of a flag from a record, encode it, and apply
    // decoded values back into another record.
    auto flag = APMPBFlag::initWithMessageInfo();
    APMPBSetStringField(flag.get(), 0, QStringLiteral("f"));
    APMPBSetInt64Field(flag.get(), 1, -3);
    APMPBSetBoolField(flag.get(), 4, true);
    APMPBNanoFlag nano {};
    ASSERT_TRUE(APMPBFlagFillEncoder(flag->messageInfo(), &nano));
    EXPECT_TRUE(nano.has_int_value);
    EXPECT_EQ(nano.int_value, -3);
    EXPECT_FALSE(nano.has_double_value);
    uint8_t* buffer = nullptr;
    const int64_t length = APMPBEncodeToBuffer(&APMPBNanoFlag_msg, &nano, &buffer);
    EXPECT_EQ(
        QByteArray(reinterpret_cast<const char*>(buffer), length), flag->protoBuffer().value_or("<failed>"));
    std::free(buffer);

    APMPBMessageInfo* applied = newRecord(APMPBFlagMessageType);
    APMPBFlagApplyDecoded(&nano, applied);
    EXPECT_EQ(applied->values[0], nullptr); // strings travel through callbacks, not the structure
    ASSERT_NE(applied->values[1], nullptr);
    ASSERT_NE(applied->values[4], nullptr);
    EXPECT_EQ(applied->values[3], nullptr);
    APMPBFlagFreeMessageInfo(applied);

    // SetDecoders replaces the record it is given with a fresh one.
    APMPBMessageInfo* slot = newRecord(APMPBStringFilterMessageType);
    APMPBNanoStringFilter strings {};
    ASSERT_TRUE(APMPBStringFilterSetDecoders(&slot, &strings));
    EXPECT_EQ(strings.expression.funcs.decode, &APMPBDecodeStringCallback);
    EXPECT_EQ(strings.expression_list.funcs.decode, &APMPBDecodeRepeatedStringCallback);
    EXPECT_EQ(strings.expression_list.arg, slot->values[3]);
    EXPECT_TRUE(APMPBStringFilterAllocateArrays(slot));
    APMPBStringFilterFreeMessageInfo(slot);
}

TEST(WireCodec, MalformedInputFailsCleanly)
{
    const std::vector<QByteArray> inputs = {
        raw("\x0a", 1), // key without length
        raw("\x0a\x80", 2), // truncated length varint
        raw("\x0a\xff\xff\xff\xff\x0f", 6), // length far past the end
        raw("\x0a\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11), // 64-bit length
        raw("\x18\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x01", 12), // varint of eleven bytes
        raw("\x18", 1), // scalar key without value
        raw("\x0b\x0c", 2), // group wire types
        raw("\x00", 1), // tag 0
        raw("\x0e", 1), // wire type 6
        raw("\x0a\x05\x0a\x08"
            "abc",
            7), // element's string runs past the element
        raw("\x0a\x02\x19\x01", 4), // truncated fixed64 inside an element
        raw("\x25\x01\x02", 3), // truncated fixed32 (unknown tag 4, wire type 5)
    };
    for (const QByteArray& bytes : inputs) {
        SCOPED_TRACE(bytes.toHex().constData());
        const std::string out = capture([&] {
            EXPECT_FALSE(APMPBEvent::initWithBuffer(bytes));
            EXPECT_FALSE(APMPBMeasurementConfig::initWithBuffer(bytes));
        });
        EXPECT_NE(out.find("<ERROR> "), std::string::npos);
    }
}

// The writer's bytes are the encoder's for the same fields: submessage
// lengths of one, two and three bytes, and every value kind it writes.
TEST(WireCodec, WriterWritesWhatTheEncoderWrites)
{
    // ASCII text of up to 256 units is stored without a converted copy; the
    // same lengths of non-ASCII text go the other way.
    for (const qsizetype length : { 0, 100, 126, 127, 200, 256, 257, 16'380, 20'000 }) {
        for (const QChar unit : { QChar(u'x'), QChar(0xE9) }) {
            SCOPED_TRACE(testing::Message() << length << " of U+" << int(unit.unicode()));
            const QString text(length, unit);
            auto event = APMPBEvent::initWithMessageInfo();
            std::vector<std::unique_ptr<APMPBEventParam>> params;
            params.push_back(APMPBEventParam::initWithMessageInfo());
            APMPBSetStringField(params.back().get(), 0, text);
            APMPBSetInt64Field(params.back().get(), 2, -5);
            params.push_back(APMPBEventParam::initWithMessageInfo());
            APMPBSetDoubleField(params.back().get(), 4, -0.125);
            APMPBSetArrayField(event.get(), 0, params);
            APMPBSetInt64Field(event.get(), 2, std::numeric_limits<qint64>::min());
            EXPECT_EQ(APMPBGetStringField(params[0].get(), 0), text);

            QByteArray written;
            APMPBWireWriter out(written);
            qsizetype mark = out.beginMessage(1);
            out.writeStringField(1, text);
            out.writeInt64Field(3, -5);
            out.endMessage(mark);
            mark = out.beginMessage(1);
            out.writeStringField(1, QString()); // a null text is no field
            out.writeDoubleField(5, -0.125);
            out.endMessage(mark);
            out.writeInt64Field(3, std::numeric_limits<qint64>::min());
            EXPECT_EQ(written.toHex(), event->protoBuffer().value_or(QByteArray("<failed>")).toHex());
        }
    }
}

} // namespace

// Repeated submessages are written in one pass with their lengths put in
// front afterwards, also inside a singular submessage, whose window nanopb
// measures first: lengths of two bytes at every level come back the same.
TEST(WireCodec, LongRepeatedSubmessagesInsideASingularOneEncodeAsDecoded)
{
    // sdk response { snapshot { experiments { experiment_id: 1 flags { name: "xx…" } } } }
    QByteArray response;
    APMPBWireWriter out(response);
    const qsizetype snapshot = out.beginMessage(3);
    const qsizetype experiment = out.beginMessage(2);
    out.writeInt64Field(1, 1);
    const qsizetype flag = out.beginMessage(2);
    out.writeStringField(1, QString(300, QLatin1Char('x')));
    out.endMessage(flag);
    out.endMessage(experiment);
    out.endMessage(snapshot);
    ASSERT_GT(response.size(), 300);

    const auto sdk = APMPBSdkResponse::initWithBuffer(response);
    ASSERT_TRUE(sdk);
    EXPECT_EQ(sdk->protoBuffer().value_or("<failed>").toHex(), response.toHex());
}
