// Typed access to message fields by slot: type checks, presence, copies and
// the conversions of array elements.
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBStringFilter.h"

#include <QStringList>

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace {

QStringList gLogged;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    gLogged.append(message);
}

class WireFieldAccess : public testing::Test {
protected:
    void SetUp() override
    {
        gLogged.clear();
        previous_ = qInstallMessageHandler(recordMessage);
    }
    void TearDown() override { qInstallMessageHandler(previous_); }

    // The lines logged since the last call.
    QStringList logged()
    {
        QStringList lines = gLogged;
        gLogged.clear();
        return lines;
    }

private:
    QtMessageHandler previous_ = nullptr;
};

QByteArray encoded(const NANOMessageBase* message)
{
    return message->protoBuffer().value_or(QByteArray("<failed>"));
}

TEST_F(WireFieldAccess, SlotsOfAnotherKindAreRefusedAndLeftAlone)
{
    auto event = APMPBEvent::initWithMessageInfo();
    APMPBSetStringField(event.get(), 1, QStringLiteral("e"));
    APMPBSetInt64Field(event.get(), 2, 7);
    auto param = APMPBEventParam::initWithMessageInfo();
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    const QByteArray before = encoded(event.get());
    logged();

    struct Case {
        const char* label;
        std::function<void()> call;
        QString expected;
    };
    const QString event2 = QStringLiteral("Message: Event, field ID: 2");
    const std::vector<Case> cases = {
        { "GetBool", [&] { EXPECT_FALSE(APMPBGetBoolField(event.get(), 2)); },
            "<Nano/Failure> Field type isn't a scalar BOOL. " + event2 },
        { "SetBool", [&] { APMPBSetBoolField(event.get(), 2, true); },
            "<Nano/Failure> Field type isn't a scalar BOOL. " + event2 },
        // The slot is reported, not the tag (3).
        { "GetInt32", [&] { EXPECT_EQ(APMPBGetInt32Field(event.get(), 2), 0); },
            "<Nano/Failure> Field type isn't a scalar INT32. " + event2 },
        { "SetInt32 on bundle tag 26", [&] { APMPBSetInt32Field(bundle.get(), 6, 1); },
            QStringLiteral(
                "<Nano/Failure> Field type isn't a scalar INT32. Message: MeasurementBundle, field ID: 6") },
        { "GetInt64", [&] { EXPECT_EQ(APMPBGetInt64Field(event.get(), 4), 0); },
            QStringLiteral("<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 4") },
        { "SetInt64", [&] { APMPBSetInt64Field(event.get(), 1, 1); },
            QStringLiteral("<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 1") },
        { "GetFloat", [&] { EXPECT_EQ(APMPBGetFloatField(param.get(), 4), 0.0f); },
            QStringLiteral(
                "<Nano/Failure> Field type isn't a scalar FLOAT. Message: EventParam, field ID: 4") },
        { "SetFloat", [&] { APMPBSetFloatField(event.get(), 2, 1); },
            "<Nano/Failure> Field type isn't a scalar FLOAT. " + event2 },
        { "GetDouble", [&] { EXPECT_EQ(APMPBGetDoubleField(param.get(), 3), 0.0); },
            QStringLiteral(
                "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: EventParam, field ID: 3") },
        { "SetDouble", [&] { APMPBSetDoubleField(event.get(), 2, 1); },
            "<Nano/Failure> Field type isn't a scalar DOUBLE. " + event2 },
        { "GetString", [&] { EXPECT_TRUE(APMPBGetStringField(event.get(), 0).isNull()); },
            QStringLiteral("<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 0") },
        { "SetString", [&] { APMPBSetStringField(event.get(), 2, QStringLiteral("x")); },
            "<Nano/Failure> Field type isn't a scalar STRING. " + event2 },
        { "GetMessage", [&] { EXPECT_FALSE(APMPBGetMessageField<APMPBEventParam>(event.get(), 0)); },
            QStringLiteral("<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Event, field ID: 0") },
        { "SetMessage", [&] { APMPBSetMessageField(event.get(), 1, param.get()); },
            QStringLiteral("<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Event, field ID: 1") },
        { "GetArray", [&] { EXPECT_TRUE(APMPBGetArrayField(event.get(), 1).isEmpty()); },
            QStringLiteral("<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1") },
        { "SetArray", [&] { APMPBSetArrayField(event.get(), 2, QVariantList { 1 }); },
            "<Nano/Failure> Field type isn't REPEATED. " + event2 },
        { "GetBytes", [&] { EXPECT_TRUE(APMPBGetBytesField(event.get(), 2).isNull()); },
            "<Nano/Failure> Field type isn't a scalar BYTES. " + event2 },
        { "SetBytes", [&] { APMPBSetBytesField(event.get(), 2, "x"); },
            "<Nano/Failure> Field type isn't a scalar BYTES. " + event2 },
        { "slot past the end", [&] { EXPECT_EQ(APMPBGetInt64Field(event.get(), 5), 0); },
            QStringLiteral("<Nano/Failure> Field ID out of range. Message: Event, field ID: 5") },
        { "negative slot", [&] { APMPBClearField(event.get(), -1); },
            QStringLiteral("<Nano/Failure> Field ID out of range. Message: Event, field ID: -1") },
        { "HasField past the end", [&] { EXPECT_FALSE(APMPBHasField(event.get(), 9)); },
            QStringLiteral("<Nano/Failure> Field ID out of range. Message: Event, field ID: 9") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        c.call();
        EXPECT_EQ(logged(), QStringList { c.expected });
    }
    EXPECT_EQ(encoded(event.get()), before);
    EXPECT_EQ(encoded(bundle.get()), QByteArray());
}

TEST_F(WireFieldAccess, AMessageWithoutRecordIsReported)
{
    const NANOMessageBase* none = nullptr;
    NANOMessageBase* mutableNone = nullptr;
    EXPECT_FALSE(APMPBGetBoolField(none, 0));
    APMPBSetBoolField(mutableNone, 0, true);
    EXPECT_EQ(APMPBGetInt32Field(none, 0), 0);
    EXPECT_TRUE(APMPBGetStringField(none, 0).isNull());
    EXPECT_FALSE(APMPBGetMessageField<APMPBEvent>(none, 0));
    EXPECT_TRUE(APMPBGetArrayField(none, 0).isEmpty());
    APMPBSetArrayField(mutableNone, 0, QVariantList {});
    APMPBClearField(mutableNone, 0);
    EXPECT_EQ(logged(),
        (QStringList {
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetBool can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. SetBool can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetInt32 can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetString can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetMessage can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetArray can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. SetArray can't be performed"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. ClearField can't be performed"),
        }));

    // A record whose slot array is gone reports the message's name.
    auto event = APMPBEvent::initWithMessageInfo();
    void** values = event->messageInfo()->values;
    event->messageInfo()->values = nullptr;
    EXPECT_FALSE(APMPBHasField(event.get(), 0));
    EXPECT_EQ(APMPBGetInt64Field(event.get(), 2), 0);
    event->messageInfo()->values = values;
    EXPECT_EQ(logged(),
        (QStringList {
            QStringLiteral(
                "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. "
                "Message name Event"),
            QStringLiteral("ProtocolBuffer message hasn't been initialized. GetInt64 can't be performed"),
        }));
}

TEST_F(WireFieldAccess, PresenceIsIndependentOfTheValue)
{
    auto event = APMPBEvent::initWithMessageInfo();
    EXPECT_TRUE(APMPBHasField(event.get(), 0)); // repeated, empty
    EXPECT_FALSE(APMPBHasField(event.get(), 4));
    APMPBSetInt32Field(event.get(), 4, 0);
    EXPECT_TRUE(APMPBHasField(event.get(), 4));
    APMPBSetStringField(event.get(), 1, QStringLiteral(""));
    EXPECT_TRUE(APMPBHasField(event.get(), 1));
    const QString empty = APMPBGetStringField(event.get(), 1);
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(encoded(event.get()), QByteArray("\x12\x00\x28\x00", 4));

    APMPBClearField(event.get(), 4);
    EXPECT_FALSE(APMPBHasField(event.get(), 4));
    APMPBSetStringField(event.get(), 1, QString()); // no value clears
    EXPECT_FALSE(APMPBHasField(event.get(), 1));
    APMPBSetArrayField(
        event.get(), 0, std::vector<const NANOMessageBase*> { APMPBEventParam::initWithMessageInfo().get() });
    APMPBClearField(event.get(), 0);
    EXPECT_TRUE(APMPBHasField(event.get(), 0));
    EXPECT_TRUE(APMPBGetArrayField<APMPBEventParam>(event.get(), 0).empty());
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(WireFieldAccess, ScalarsKeepTheirBits)
{
    auto filter = APMPBStringFilter::initWithMessageInfo();
    APMPBSetInt32Field(filter.get(), 0, 3); // enum
    EXPECT_EQ(APMPBGetInt32Field(filter.get(), 0), 3);
    APMPBSetInt32Field(filter.get(), 0, -1);
    EXPECT_EQ(APMPBGetInt32Field(filter.get(), 0), -1);
    APMPBSetBoolField(filter.get(), 2, true);
    EXPECT_TRUE(APMPBGetBoolField(filter.get(), 2));

    // Only a cell whose first byte is exactly 1 reads as true.
    *static_cast<uint8_t*>(filter->messageInfo()->values[2]) = 2;
    EXPECT_FALSE(APMPBGetBoolField(filter.get(), 2));

    auto param = APMPBEventParam::initWithMessageInfo();
    APMPBSetInt64Field(param.get(), 2, std::numeric_limits<int64_t>::min());
    APMPBSetFloatField(param.get(), 3, -0.0f);
    APMPBSetDoubleField(param.get(), 4, std::numeric_limits<double>::quiet_NaN());
    auto decoded = APMPBEventParam::initWithBuffer(encoded(param.get()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(APMPBGetInt64Field(decoded.get(), 2), std::numeric_limits<int64_t>::min());
    EXPECT_TRUE(std::signbit(APMPBGetFloatField(decoded.get(), 3)));
    EXPECT_TRUE(std::isnan(APMPBGetDoubleField(decoded.get(), 4)));
}

TEST_F(WireFieldAccess, StringsAreStrictUtf8AndBytesAreRaw)
{
    // name "\xff", then a value with a byte-order mark kept as a character.
    auto param = APMPBEventParam::initWithBuffer(QByteArray("\x0a\x01\xff\x12\x04\xef\xbb\xbf"
                                                            "a",
        9));
    ASSERT_TRUE(param);
    EXPECT_TRUE(APMPBHasField(param.get(), 0));
    EXPECT_TRUE(APMPBGetStringField(param.get(), 0).isNull());
    EXPECT_EQ(APMPBGetBytesField(param.get(), 0), QByteArray("\xff", 1));
    EXPECT_EQ(APMPBGetStringField(param.get(), 1), QString(QChar(0xFEFF)) + QLatin1Char('a'));
    APMPBSetBytesField(param.get(), 1, QByteArray("\x00\x01", 2));
    EXPECT_EQ(APMPBGetStringField(param.get(), 1), QString::fromLatin1("\x00\x01", 2));
    APMPBSetBytesField(param.get(), 1, QByteArray());
    EXPECT_FALSE(APMPBHasField(param.get(), 1));

    auto bundle = APMPBMeasurementBundle::initWithBuffer(QByteArray("\x82\x04\x01"
                                                                    "a"
                                                                    "\x82\x04\x02\xc3\x28"
                                                                    "\x82\x04\x00",
        12));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(
        APMPBGetArrayField(bundle.get(), 44), (QVariantList { QStringLiteral("a"), QStringLiteral("") }));
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(WireFieldAccess, ArraysConvertTheirElements)
{
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetArrayField(bundle.get(), 37,
        QVariantList {
            -1, 3.9, std::numeric_limits<double>::quiet_NaN(), qulonglong(1) << 40 | 5, true, 1e300 });
    const QVariantList ids = APMPBGetArrayField(bundle.get(), 37);
    EXPECT_EQ(ids, (QVariantList { 4294967295u, 3u, 0u, 5u, 1u, 4294967295u }));
    EXPECT_EQ(ids[0].metaType().id(), QMetaType::UInt);

    auto data = APMPBResultData::initWithMessageInfo();
    APMPBSetArrayField(data.get(), 0, QVariantList { qulonglong(UINT64_MAX), -2, -1e300, 1e300, 2.5f });
    const QVariantList words = APMPBGetArrayField(data.get(), 0);
    EXPECT_EQ(words,
        (QVariantList { qulonglong(UINT64_MAX), qulonglong(UINT64_MAX - 1), qulonglong(1) << 63,
            qulonglong(INT64_MAX), qulonglong(2) }));
    EXPECT_EQ(words[0].metaType().id(), QMetaType::ULongLong);

    auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
    APMPBSetArrayField(sequence.get(), 1, QVariantList { qulonglong(UINT64_MAX), -5 });
    const QVariantList times = APMPBGetArrayField(sequence.get(), 1);
    EXPECT_EQ(times, (QVariantList { qlonglong(-1), qlonglong(-5) }));
    EXPECT_EQ(times[0].metaType().id(), QMetaType::LongLong);
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(WireFieldAccess, AWrongElementEmptiesTheArray)
{
    auto event = APMPBEvent::initWithMessageInfo();
    auto param = APMPBEventParam::initWithMessageInfo();
    auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    auto data = APMPBResultData::initWithMessageInfo();

    struct Case {
        const char* label;
        NANOMessageBase* message;
        int slot;
        std::function<void()> call;
        QString expected;
    };
    const std::vector<Case> cases = {
        { "int64 then text", sequence.get(), 1,
            [&] {
                APMPBSetArrayField(sequence.get(), 1, QVariantList { 1, QStringLiteral("x") });
            },
            QStringLiteral("<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: QString") },
        { "uint64 and a list", data.get(), 0,
            // Wrapped: Clang reads a list of one empty list as a copy of the empty list.
            [&] { APMPBSetArrayField(data.get(), 0, QVariantList { QVariant(QVariantList {}) }); },
            QStringLiteral("<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: QVariantList") },
        { "uint32 and nothing", bundle.get(), 37,
            [&] { APMPBSetArrayField(bundle.get(), 37, QVariantList { QVariant() }); },
            QStringLiteral("<ERROR> Invalid object type. Int32 fields expect NSNumber. Type: (invalid)") },
        { "string and a number", bundle.get(), 44,
            [&] {
                APMPBSetArrayField(bundle.get(), 44, QVariantList { QStringLiteral("a"), 4 });
            },
            QStringLiteral("<ERROR> Invalid object type. String fields expect NSString. Type: int") },
        { "string and bytes", bundle.get(), 44,
            [&] { APMPBSetArrayField(bundle.get(), 44, QVariantList { QByteArray("a") }); },
            QStringLiteral("<ERROR> Invalid object type. String fields expect NSString. Type: QByteArray") },
        { "message and text", event.get(), 0,
            [&] { APMPBSetArrayField(event.get(), 0, QVariantList { QStringLiteral("p") }); },
            QStringLiteral(
                "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: QString") },
        { "number and a message", sequence.get(), 1,
            [&] {
                APMPBSetArrayField(sequence.get(), 1, std::vector<const NANOMessageBase*> { param.get() });
            },
            QStringLiteral(
                "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: APMPBEventParam") },
        { "message of another type", event.get(), 0,
            [&] {
                APMPBSetArrayField(
                    event.get(), 0, std::vector<const NANOMessageBase*> { param.get(), event.get() });
            },
            QStringLiteral("<Nano/Failure> Message type doesn't match the field. Message: Event, field ID: "
                           "0, given: Event") },
        { "message and nothing", event.get(), 0,
            [&] { APMPBSetArrayField(event.get(), 0, std::vector<const NANOMessageBase*> { nullptr }); },
            QStringLiteral(
                "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: (null)") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        // Start from a filled field: a refused array leaves it empty, the earlier elements included.
        if (c.message == event.get())
            APMPBSetArrayField(event.get(), 0, std::vector<const NANOMessageBase*> { param.get() });
        else if (c.message == bundle.get() && c.slot == 44)
            APMPBSetArrayField(bundle.get(), 44, QVariantList { QStringLiteral("kept?") });
        else
            APMPBSetArrayField(c.message, c.slot, QVariantList { 9 });
        ASSERT_EQ(static_cast<const APMPBRepeated*>(c.message->messageInfo()->values[c.slot])->count, 1u);
        logged();
        c.call();
        EXPECT_EQ(logged(), QStringList { c.expected });
        EXPECT_EQ(static_cast<const APMPBRepeated*>(c.message->messageInfo()->values[c.slot])->count, 0u);
        EXPECT_TRUE(APMPBHasField(c.message, c.slot));
    }

    APMPBSetArrayField(sequence.get(), 1, QVariantList { 1, 2 });
    APMPBSetArrayField(sequence.get(), 1, QVariantList {});
    EXPECT_TRUE(APMPBGetArrayField(sequence.get(), 1).isEmpty());
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(WireFieldAccess, ArraysOfMessagesAreReadWithTheirClass)
{
    auto event = APMPBEvent::initWithMessageInfo();
    auto a = APMPBEventParam::initWithMessageInfo();
    APMPBSetStringField(a.get(), 0, QStringLiteral("a"));
    auto b = APMPBEventParam::initWithMessageInfo();
    APMPBSetStringField(b.get(), 0, QStringLiteral("b"));
    std::vector<std::unique_ptr<APMPBEventParam>> params;
    params.push_back(std::move(a));
    params.push_back(std::move(b));
    APMPBSetArrayField(event.get(), 0, params);

    std::vector<std::unique_ptr<APMPBEventParam>> read = APMPBGetArrayField<APMPBEventParam>(event.get(), 0);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(APMPBGetStringField(read[1].get(), 0), QStringLiteral("b"));
    // The elements read are copies: changing one leaves the event as it was until it is stored back.
    APMPBSetStringField(read[1].get(), 0, QStringLiteral("changed"));
    EXPECT_EQ(APMPBGetStringField(APMPBGetArrayField<APMPBEventParam>(event.get(), 0)[1].get(), 0),
        QStringLiteral("b"));
    APMPBSetStringField(params[0].get(), 0, QStringLiteral("source changed"));
    EXPECT_EQ(APMPBGetStringField(APMPBGetArrayField<APMPBEventParam>(event.get(), 0)[0].get(), 0),
        QStringLiteral("a"));
    APMPBSetArrayField(event.get(), 0, read);
    EXPECT_EQ(APMPBGetStringField(APMPBGetArrayField<APMPBEventParam>(event.get(), 0)[1].get(), 0),
        QStringLiteral("changed"));
    EXPECT_TRUE(logged().isEmpty());

    // A class of another message type reads no elements; the variant reader
    // and the message reader each keep to their own kind of field.
    EXPECT_TRUE(APMPBGetArrayField<APMPBEvent>(event.get(), 0).empty());
    EXPECT_TRUE(APMPBGetArrayField(event.get(), 0).isEmpty());
    auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
    EXPECT_TRUE(APMPBGetArrayField<APMPBEventParam>(sequence.get(), 1).empty());
    EXPECT_EQ(logged(),
        (QStringList {
            QStringLiteral(
                "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: QVariant"),
            QStringLiteral(
                "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: QVariant"),
            QStringLiteral(
                "<Nano/Failure> Field type isn't a repeated MESSAGE. Message: SequenceFilterResultTimestamp, "
                "field ID: 1"),
        }));

    // An element lost from a record is reported when read and fails the encoding.
    auto* params2 = static_cast<APMPBRepeated*>(event->messageInfo()->values[0]);
    void* element = params2->elements[0];
    params2->elements[0] = nullptr;
    EXPECT_EQ(APMPBGetArrayField<APMPBEventParam>(event.get(), 0).size(), 1u);
    EXPECT_EQ(
        logged(), QStringList { QStringLiteral("<ERROR> Unable to convert NULL data to an ObjC object") });
    EXPECT_FALSE(event->protoBuffer().has_value());
    params2->elements[0] = element;
}

// Handed over instead of copied: the field holds what a copy would, in the
// very records given (the sanitizers see any record freed twice or lost);
// a refused element leaves the field empty as a copy would.
TEST_F(WireFieldAccess, ArraysOfMessagesCanTakeTheirElementsOver)
{
    const auto makeParams = [] {
        std::vector<std::unique_ptr<APMPBEventParam>> params;
        for (const char* name : { "a", "b" }) {
            params.push_back(APMPBEventParam::initWithMessageInfo());
            APMPBSetStringField(params.back().get(), 0, QString::fromLatin1(name));
            APMPBSetInt64Field(params.back().get(), 2, 7);
        }
        return params;
    };
    auto copied = APMPBEvent::initWithMessageInfo();
    APMPBSetArrayField(copied.get(), 0, makeParams());
    auto taken = APMPBEvent::initWithMessageInfo();
    std::vector<std::unique_ptr<APMPBEventParam>> params = makeParams();
    const APMPBMessageInfo* firstRecord = params[0]->messageInfo();
    APMPBSetArrayField(taken.get(), 0, std::move(params));
    EXPECT_TRUE(params.empty());
    EXPECT_EQ(encoded(taken.get()), encoded(copied.get()));
    EXPECT_EQ(apmpb::messageArrayRecords(taken.get(), 0).front(), firstRecord);
    EXPECT_TRUE(logged().isEmpty());

    // One element of another type: nothing is kept, nothing leaks.
    std::vector<std::unique_ptr<NANOMessageBase>> mixed;
    mixed.push_back(APMPBEventParam::initWithMessageInfo());
    mixed.push_back(APMPBEvent::initWithMessageInfo());
    APMPBSetArrayField(taken.get(), 0, std::move(mixed));
    EXPECT_TRUE(APMPBGetArrayField<APMPBEventParam>(taken.get(), 0).empty());
    EXPECT_EQ(logged().size(), 1);
}

// One string slot of every element, read where the elements are: a null
// text for an element without one; a slot of another kind reads nothing.
TEST_F(WireFieldAccess, ElementStringsAreReadInPlace)
{
    auto event = APMPBEvent::initWithMessageInfo();
    std::vector<std::unique_ptr<APMPBEventParam>> params;
    for (const QString& name : { QStringLiteral("a"), QString(), QStringLiteral("\u00e9") }) {
        params.push_back(APMPBEventParam::initWithMessageInfo());
        APMPBSetStringField(params.back().get(), 0, name);
        APMPBSetInt64Field(params.back().get(), 2, 1);
    }
    APMPBSetArrayField(event.get(), 0, std::move(params));
    const QStringList names = APMPBGetStringFieldOfElements(event.get(), 0, 0);
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(names[0], QStringLiteral("a"));
    EXPECT_TRUE(names[1].isNull());
    EXPECT_EQ(names[2], QStringLiteral("\u00e9"));
    EXPECT_TRUE(logged().isEmpty());

    EXPECT_TRUE(APMPBGetStringFieldOfElements(event.get(), 0, 2).isEmpty());
    EXPECT_TRUE(APMPBGetStringFieldOfElements(event.get(), 0, 9).isEmpty());
    EXPECT_TRUE(APMPBGetStringFieldOfElements(event.get(), 1, 0).isEmpty());
    EXPECT_EQ(logged(),
        (QStringList {
            QStringLiteral(
                "<Nano/Failure> Field type isn't a scalar STRING. Message: EventParam, field ID: 2"),
            QStringLiteral(
                "<Nano/Failure> Field type isn't a scalar STRING. Message: EventParam, field ID: 9"),
            QStringLiteral("<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1") }));
}

// Taken out instead of copied: the same elements, in order, and the field
// left empty; a class of another type takes nothing and leaves the field.
TEST_F(WireFieldAccess, ArraysOfMessagesCanBeTakenOut)
{
    auto event = APMPBEvent::initWithMessageInfo();
    std::vector<std::unique_ptr<APMPBEventParam>> params;
    for (const char* name : { "a", "b", "c" }) {
        params.push_back(APMPBEventParam::initWithMessageInfo());
        APMPBSetStringField(params.back().get(), 0, QString::fromLatin1(name));
    }
    APMPBSetArrayField(event.get(), 0, std::move(params));
    APMPBSetStringField(event.get(), 1, QStringLiteral("e"));

    EXPECT_TRUE(APMPBTakeArrayField<APMPBEvent>(event.get(), 0).empty());
    EXPECT_EQ(APMPBGetStringFieldOfElements(event.get(), 0, 0), QStringList({ "a", "b", "c" }));

    const std::vector<std::unique_ptr<APMPBEventParam>> taken
        = APMPBTakeArrayField<APMPBEventParam>(event.get(), 0);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(APMPBGetStringField(taken[2].get(), 0), QStringLiteral("c"));
    EXPECT_TRUE(APMPBGetArrayField<APMPBEventParam>(event.get(), 0).empty());
    EXPECT_EQ(encoded(event.get()),
        QByteArray("\x12\x01"
                   "e",
            3));
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(WireFieldAccess, SubmessagesAreCopiedInAndOut)
{
    auto property = APMPBPropertyFilter::initWithMessageInfo();
    auto filter = APMPBFilter::initWithMessageInfo();
    APMPBSetStringField(filter.get(), 3, QStringLiteral("value"));
    APMPBSetMessageField(property.get(), 2, filter.get());
    APMPBSetStringField(filter.get(), 3, QStringLiteral("later"));

    auto read = APMPBGetMessageField<APMPBFilter>(property.get(), 2);
    ASSERT_TRUE(read);
    EXPECT_EQ(APMPBGetStringField(read.get(), 3), QStringLiteral("value"));
    APMPBSetBoolField(read.get(), 2, true);
    EXPECT_FALSE(APMPBGetBoolField(APMPBGetMessageField<APMPBFilter>(property.get(), 2).get(), 2));
    APMPBSetMessageField(property.get(), 2, read.get());
    EXPECT_TRUE(APMPBGetBoolField(APMPBGetMessageField<APMPBFilter>(property.get(), 2).get(), 2));

    // Read as another class: nothing. Stored from another type: refused, field unchanged.
    EXPECT_FALSE(APMPBGetMessageField<APMPBNumberFilter>(property.get(), 2));
    auto number = APMPBNumberFilter::initWithMessageInfo();
    APMPBSetMessageField(property.get(), 2, number.get());
    EXPECT_EQ(logged(),
        QStringList { QStringLiteral("<Nano/Failure> Message type doesn't match the field. Message: "
                                     "PropertyFilter, field ID: 2, given: NumberFilter") });
    EXPECT_TRUE(APMPBGetMessageField<APMPBFilter>(property.get(), 2));

    APMPBSetMessageField(property.get(), 2, nullptr);
    EXPECT_FALSE(APMPBHasField(property.get(), 2));
    EXPECT_FALSE(APMPBGetMessageField<APMPBFilter>(property.get(), 2));
    EXPECT_TRUE(logged().isEmpty());
}

} // namespace
