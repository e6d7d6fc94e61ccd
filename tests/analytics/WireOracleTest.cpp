// The wire codec against protoc, which reads an independent hand-written
// transcription of the 41 schemas (data/wire_messages.proto): our encodings
// must equal protoc's, and protoc's encodings must decode and re-encode
// unchanged through our codec.
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBExperimentResponse.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBatch.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBSetting.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueResponse.h"
#include "analytics/wire/APMPBStringFilter.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- protoc -----------------------------------------------------------------

QString protoDir()
{
    const QString root = qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR");
    return root.isEmpty() ? QString() : QDir(root).filePath(QStringLiteral("analytics/data"));
}

struct ProtocRun {
    bool ok = false;
    QByteArray out;
    QByteArray err;
};

ProtocRun runProtoc(const QStringList& mode, const QByteArray& input)
{
    ProtocRun run;
    const QString dir = protoDir();
    const QString protoc = QStandardPaths::findExecutable(QStringLiteral("protoc"));
    if (dir.isEmpty() || protoc.isEmpty()) {
        ADD_FAILURE() << "protoc and PRAVIK_TEST_SOURCE_DIR are needed for the wire oracle";
        return run;
    }
    QProcess process;
    QStringList args = mode;
    if (!mode.contains(QStringLiteral("--decode_raw")))
        args << QStringLiteral("-I") << dir << QStringLiteral("wire_messages.proto");
    process.start(protoc, args);
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "protoc did not start";
        return run;
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

QByteArray protocEncode(const char* type, const QByteArray& text)
{
    ProtocRun run = runProtoc({ QStringLiteral("--encode=wire.%1").arg(QLatin1String(type)) }, text);
    EXPECT_TRUE(run.ok) << type << ": " << run.err.constData() << "\ntext: " << text.left(2000).constData();
    return run.out;
}

QByteArray protocDecode(const char* type, const QByteArray& bytes)
{
    ProtocRun run = runProtoc({ QStringLiteral("--decode=wire.%1").arg(QLatin1String(type)) }, bytes);
    EXPECT_TRUE(run.ok) << type << ": " << run.err.constData();
    return run.out;
}

QByteArray protocDecodeRaw(const QByteArray& bytes)
{
    ProtocRun run = runProtoc({ QStringLiteral("--decode_raw") }, bytes);
    EXPECT_TRUE(run.ok) << run.err.constData();
    return run.out;
}

QByteArray hex(const QByteArray& bytes)
{
    return bytes.toHex(' ');
}

QByteArray encodeVarint(uint64_t value)
{
    QByteArray out;
    do {
        char byte = static_cast<char>(value & 0x7F);
        value >>= 7;
        if (value)
            byte = static_cast<char>(byte | 0x80);
        out.append(byte);
    } while (value);
    return out;
}

QByteArray lengthDelimited(uint32_t tag, const QByteArray& payload)
{
    return encodeVarint((uint64_t(tag) << 3) | 2) + encodeVarint(static_cast<uint64_t>(payload.size()))
        + payload;
}

// ---- every type, every field ---------------------------------------------------

std::vector<const apmpb::MessageType*> allTypes()
{
    std::vector<const apmpb::MessageType*> found = { &APMPBMeasurementBatchMessageType,
        &APMPBMeasurementConfigMessageType, &APMPBExperimentRequestMessageType,
        &APMPBExperimentResponseMessageType, &APMPBSkAdNetworkConversionValueRequestMessageType,
        &APMPBSkAdNetworkConversionValueResponseMessageType };
    for (std::size_t i = 0; i < found.size(); ++i) {
        const apmpb::MessageType& type = *found[i];
        for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
            const apmpb::MessageType* sub = type.slotInfo[slot].messageType;
            if (sub && std::find(found.begin(), found.end(), sub) == found.end())
                found.push_back(sub);
        }
    }
    return found;
}

const apmpb::MessageType& typeNamed(const char* name)
{
    for (const apmpb::MessageType* type : allTypes()) {
        if (std::strcmp(type->name, name) == 0)
            return *type;
    }
    ADD_FAILURE() << "no message type " << name;
    return APMPBEventMessageType;
}

struct RecordDeleter {
    const apmpb::MessageType* type;
    void operator()(APMPBMessageInfo* info) const { apmpb::freeRecord(*type, info); }
};
using Record = std::unique_ptr<APMPBMessageInfo, RecordDeleter>;

Record newOracleRecord(const apmpb::MessageType& type)
{
    auto* info = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    EXPECT_TRUE(apmpb::InitMessageInfo(type, info));
    return Record(info, RecordDeleter { &type });
}

void storeString(void** slot, const std::string& text)
{
    ASSERT_TRUE(APMPBStoreString(slot, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Sets every field of the record (two elements per repeated field, nested
// messages two levels deep through repeated fields) and writes the same
// message in protobuf text format, using the names of our slot table.
void fillEverything(const apmpb::MessageType& type, APMPBMessageInfo* record, std::string& text, int depth)
{
    for (uint32_t i = 0; i < type.slotCount; ++i) {
        const uint32_t slot = type.fieldSlots[i];
        const uint32_t flags = type.fieldTypes[slot];
        const apmpb::Slot& info = type.slotInfo[slot];
        const std::string name = info.name;
        const uint32_t tag = info.tag;
        void** value = &record->values[slot];
        if (flags & APMPBFieldRepeated) {
            auto* repeated = static_cast<APMPBRepeated*>(*value);
            if ((flags & APMPBFieldMessage) && depth >= 2)
                continue;
            repeated->count = 2;
            repeated->elements = static_cast<void**>(std::calloc(2, sizeof(void*)));
            for (int k = 0; k < 2; ++k) {
                void** element = &repeated->elements[k];
                if (flags & APMPBFieldMessage) {
                    auto* sub = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
                    apmpb::InitMessageInfo(*info.messageType, sub);
                    *element = sub;
                    text += name + " { ";
                    fillEverything(*info.messageType, sub, text, depth + 1);
                    text += "} ";
                } else if (flags & APMPBFieldString) {
                    const std::string s = "r" + std::to_string(tag) + (k ? "b\xc3\xbc" : "a");
                    storeString(element, s);
                    text += name + ": \"" + s + "\" ";
                } else if (flags & APMPBFieldUInt32) {
                    const uint32_t v = k ? 4294967295u : 5u;
                    APMPBStoreUInt64(element, v);
                    text += name + ": " + std::to_string(v) + " ";
                } else if (flags & APMPBFieldUInt64) {
                    const uint64_t v = k ? 18446744073709551615ull : 300u;
                    APMPBStoreUInt64(element, v);
                    text += name + ": " + std::to_string(v) + " ";
                } else if (flags & APMPBFieldInt64) {
                    const int64_t v = k ? INT64_MAX : -7;
                    APMPBStoreUInt64(element, static_cast<uint64_t>(v));
                    text += name + ": " + std::to_string(v) + " ";
                } else {
                    ADD_FAILURE() << "unexpected repeated kind in " << type.name << "." << name;
                }
            }
        } else if (flags & APMPBFieldMessage) {
            auto* sub = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
            apmpb::InitMessageInfo(*info.messageType, sub);
            *value = sub;
            text += name + " { ";
            fillEverything(*info.messageType, sub, text, depth + 1);
            text += "} ";
        } else if (flags & APMPBFieldString) {
            const std::string s = "s" + std::to_string(tag) + "\xc3\xa9";
            storeString(value, s);
            text += name + ": \"" + s + "\" ";
        } else if (flags & APMPBFieldBool) {
            APMPBStoreBool(value, true);
            text += name + ": true ";
        } else if (flags & APMPBFieldEnum) {
            APMPBStoreUInt32(value, 7);
            text += name + ": 7 ";
        } else if (flags & APMPBFieldInt32) {
            const int32_t v = -static_cast<int32_t>(tag * 1000 + 7);
            APMPBStoreUInt32(value, static_cast<uint32_t>(v));
            text += name + ": " + std::to_string(v) + " ";
        } else if (flags & APMPBFieldInt64) {
            const int64_t v = -static_cast<int64_t>(tag) * 1000000007LL;
            APMPBStoreUInt64(value, static_cast<uint64_t>(v));
            text += name + ": " + std::to_string(v) + " ";
        } else if (flags & APMPBFieldFloat) {
            APMPBStoreFloat(value, 1.5f);
            text += name + ": 1.5 ";
        } else if (flags & APMPBFieldDouble) {
            APMPBStoreDouble(value, -2.25);
            text += name + ": -2.25 ";
        } else {
            ADD_FAILURE() << "unexpected kind in " << type.name << "." << name;
        }
    }
}

TEST(WireOracle, EveryTypeWithEveryFieldMatchesProtoc)
{
    const std::vector<const apmpb::MessageType*> types = allTypes();
    ASSERT_EQ(types.size(), 41u);
    for (const apmpb::MessageType* type : types) {
        SCOPED_TRACE(type->name);
        Record record = newOracleRecord(*type);
        std::string text;
        fillEverything(*type, record.get(), text, 0);
        const QByteArray expected = protocEncode(type->name, QByteArray::fromStdString(text));
        ASSERT_FALSE(expected.isEmpty());

        const std::optional<QByteArray> ours = apmpb::encodeToByteArray(*type, record.get());
        ASSERT_TRUE(ours.has_value());
        EXPECT_EQ(hex(*ours), hex(expected));

        // protoc's bytes through our decoder and encoder again.
        Record decoded = newOracleRecord(*type);
        ASSERT_TRUE(apmpb::decode(*type, reinterpret_cast<const uint8_t*>(expected.constData()),
            static_cast<size_t>(expected.size()), decoded.get()));
        EXPECT_EQ(hex(apmpb::encodeToByteArray(*type, decoded.get()).value_or("<failed>")), hex(expected));

        // And the malloc'd-buffer encoder agrees with the byte-array one.
        uint8_t* buffer = nullptr;
        const int64_t length = apmpb::encode(*type, record.get(), &buffer);
        ASSERT_EQ(length, expected.size());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buffer), length), expected);
        std::free(buffer);
    }
}

// Damaged encodings of every type either fail to decode or decode into a
// record that encodes, and whose encoding is stable from then on. Run under
// the sanitizers this is what shows that no input reads or writes out of bounds.
TEST(WireRobustness, DamagedEncodingsFailCleanlyOrRoundTrip)
{
    std::mt19937 random(20240611);
    testing::internal::CaptureStdout();
    for (const apmpb::MessageType* type : allTypes()) {
        SCOPED_TRACE(type->name);
        Record full = newOracleRecord(*type);
        std::string text;
        fillEverything(*type, full.get(), text, 0);
        const QByteArray original = apmpb::encodeToByteArray(*type, full.get()).value_or(QByteArray());
        ASSERT_FALSE(original.isEmpty());
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = original;
            for (int edits = 1 + int(random() % 3); edits > 0 && !bytes.isEmpty(); --edits) {
                const auto at = qsizetype(random() % quint32(bytes.size()));
                switch (random() % 5) {
                case 0:
                    bytes[at] = char(random());
                    break;
                case 1:
                    bytes.insert(at, char(random()));
                    break;
                case 2:
                    bytes.remove(at, 1);
                    break;
                case 3:
                    bytes.truncate(at);
                    break;
                default:
                    bytes.insert(at, bytes.mid(at, qsizetype(random() % 16)));
                    break;
                }
            }
            Record decoded = newOracleRecord(*type);
            if (!apmpb::decode(*type, reinterpret_cast<const uint8_t*>(bytes.constData()),
                    static_cast<size_t>(bytes.size()), decoded.get()))
                continue;
            const std::optional<QByteArray> once = apmpb::encodeToByteArray(*type, decoded.get());
            ASSERT_TRUE(once.has_value()) << bytes.toHex().constData();
            Record again = newOracleRecord(*type);
            ASSERT_TRUE(apmpb::decode(*type, reinterpret_cast<const uint8_t*>(once->constData()),
                static_cast<size_t>(once->size()), again.get()));
            EXPECT_EQ(apmpb::encodeToByteArray(*type, again.get()), once);
        }
    }
    testing::internal::GetCapturedStdout();
}

TEST(WireOracle, EmptyMessagesEncodeToNothingAndProtocAgrees)
{
    for (const apmpb::MessageType* type : allTypes()) {
        Record record = newOracleRecord(*type);
        const std::optional<QByteArray> ours = apmpb::encodeToByteArray(*type, record.get());
        ASSERT_TRUE(ours.has_value()) << type->name;
        EXPECT_TRUE(ours->isEmpty()) << type->name;
    }
    EXPECT_TRUE(protocEncode("MeasurementBundle", "").isEmpty());
}

// ---- chosen messages -------------------------------------------------------------

struct OracleCase {
    const char* label;
    const char* type;
    const char* text;
    std::function<std::optional<QByteArray>()> build;
};

TEST(WireOracle, ChosenMessagesMatchProtoc)
{
    const std::vector<OracleCase> cases = {
        { "bundle slots 6 and 20 carry tags 26 and 27", "MeasurementBundle",
            R"(vmp_app_id: "1:app" tag_26: 26 vendor_device_id: "VENDOR" tag_28: true)",
            [] {
                auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
                APMPBSetBoolField(bundle.get(), 27, true);
                APMPBSetStringField(bundle.get(), 20, QStringLiteral("VENDOR"));
                APMPBSetInt64Field(bundle.get(), 6, 26);
                APMPBSetStringField(bundle.get(), 26, QStringLiteral("1:app"));
                return bundle->protoBuffer();
            } },
        { "negative int32 takes ten bytes", "MeasurementBundle",
            R"(protocol_version: 1 timezone_offset_minutes: -60 retry_count: -2147483648)",
            [] {
                auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
                APMPBSetInt32Field(bundle.get(), 12, -60);
                APMPBSetInt32Field(bundle.get(), 0, 1);
                APMPBSetInt32Field(bundle.get(), 35, INT32_MIN);
                return bundle->protoBuffer();
            } },
        { "repeated uint32 written unpacked", "MeasurementBundle",
            R"(experiment_ids: 5 experiment_ids: 300 redacted_fields: "app_instance_id" redacted_fields: "")",
            [] {
                auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
                APMPBSetArrayField(bundle.get(), 37, QVariantList { 5, 300 });
                APMPBSetArrayField(
                    bundle.get(), 44, QVariantList { QStringLiteral("app_instance_id"), QStringLiteral("") });
                return bundle->protoBuffer();
            } },
        { "event with nested array parameter", "Event",
            R"(params { name: "items" param_value { name: "a" int_value: -1 } )"
            R"(param_value { double_value: 0.5 float_value: -0.25 } }
               name: "purchase" timestamp_millis: 1700000000123 tag_5: 0)",
            [] {
                auto inner1 = APMPBEventParam::initWithMessageInfo();
                APMPBSetStringField(inner1.get(), 0, QStringLiteral("a"));
                APMPBSetInt64Field(inner1.get(), 2, -1);
                auto inner2 = APMPBEventParam::initWithMessageInfo();
                APMPBSetDoubleField(inner2.get(), 4, 0.5);
                APMPBSetFloatField(inner2.get(), 3, -0.25f);
                auto param = APMPBEventParam::initWithMessageInfo();
                APMPBSetStringField(param.get(), 0, QStringLiteral("items"));
                APMPBSetArrayField(
                    param.get(), 5, std::vector<const NANOMessageBase*> { inner1.get(), inner2.get() });
                auto event = APMPBEvent::initWithMessageInfo();
                APMPBSetArrayField(event.get(), 0, std::vector<const NANOMessageBase*> { param.get() });
                APMPBSetStringField(event.get(), 1, QStringLiteral("purchase"));
                APMPBSetInt64Field(event.get(), 2, 1700000000123);
                APMPBSetInt32Field(event.get(), 4, 0);
                return event->protoBuffer();
            } },
        { "audience results with embedded result data", "AudienceLeafFilterResult",
            R"(audience_id: 9 current_results { status: 1 status: 18446744073709551615 results: 1
               sequence_filter_timestamps { filter_id: 3 eval_timestamps: 10 eval_timestamps: -20 } }
               previous_results_cleared: true)",
            [] {
                auto sequence = APMPBSequenceFilterResultTimestamp::initWithMessageInfo();
                APMPBSetInt32Field(sequence.get(), 0, 3);
                APMPBSetArrayField(sequence.get(), 1, QVariantList { 10, -20 });
                auto data = APMPBResultData::initWithMessageInfo();
                APMPBSetArrayField(data.get(), 0, QVariantList { 1, quint64(18446744073709551615ull) });
                APMPBSetArrayField(data.get(), 1, QVariantList { true });
                APMPBSetArrayField(data.get(), 3, std::vector<const NANOMessageBase*> { sequence.get() });
                auto result = APMPBAudienceLeafFilterResult::initWithMessageInfo();
                APMPBSetInt32Field(result.get(), 0, 9);
                APMPBSetMessageField(result.get(), 1, data.get());
                APMPBSetBoolField(result.get(), 3, true);
                return result->protoBuffer();
            } },
        { "enum at its largest 32-bit value", "SkAdNetworkConversionValueResponse",
            R"(tag_1: NUMBER_MAX tag_3: -1 tag_4: NUMBER_0 tag_5: false tag_8: -9223372036854775808)",
            [] {
                auto response = APMPBSkAdNetworkConversionValueResponse::initWithMessageInfo();
                APMPBSetInt32Field(response.get(), 0, INT32_MAX);
                APMPBSetInt32Field(response.get(), 2, -1);
                APMPBSetInt32Field(response.get(), 3, 0);
                APMPBSetBoolField(response.get(), 4, false);
                APMPBSetInt64Field(response.get(), 7, INT64_MIN);
                return response->protoBuffer();
            } },
    };
    for (const OracleCase& c : cases) {
        SCOPED_TRACE(c.label);
        const QByteArray expected = protocEncode(c.type, c.text);
        const std::optional<QByteArray> ours = c.build();
        ASSERT_TRUE(ours.has_value());
        EXPECT_EQ(hex(*ours), hex(expected));
    }
}

TEST(WireOracle, BundleTags26And27DecodeIntoSlots6And20)
{
    const QByteArray bytes
        = protocEncode("MeasurementBundle", R"(vmp_app_id: "a" tag_26: -26 vendor_device_id: "v")");
    auto bundle = APMPBMeasurementBundle::initWithBuffer(bytes);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(APMPBGetInt64Field(bundle.get(), 6), -26);
    EXPECT_EQ(APMPBGetStringField(bundle.get(), 20), QStringLiteral("v"));
    EXPECT_EQ(APMPBGetStringField(bundle.get(), 26), QStringLiteral("a"));
    EXPECT_FALSE(APMPBHasField(bundle.get(), 7));
}

TEST(WireOracle, NegativeEnumsReadInBothFormsAndWriteUnsigned)
{
    // protoc writes a negative enum sign-extended to ten bytes; we read it and
    // write the unsigned 32-bit form, which protoc reads back as the same value.
    const QByteArray tenBytes = protocEncode("MeasurementBundle", "apple_consent_status: NUMBER_MINUS_ONE");
    ASSERT_EQ(tenBytes.size(), 12);
    auto bundle = APMPBMeasurementBundle::initWithBuffer(tenBytes);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(APMPBGetInt32Field(bundle.get(), 41), -1);
    const QByteArray ours = bundle->protoBuffer().value_or("<failed>");
    EXPECT_EQ(hex(ours), hex(QByteArray::fromHex("a803ffffffff0f")));
    EXPECT_EQ(protocDecode("MeasurementBundle", ours).trimmed(), "apple_consent_status: NUMBER_MINUS_ONE");

    auto again = APMPBMeasurementBundle::initWithBuffer(ours);
    ASSERT_TRUE(again);
    EXPECT_EQ(APMPBGetInt32Field(again.get(), 41), -1);
}

TEST(WireOracle, PackedRepeatedFieldsDecodeLikeUnpackedOnes)
{
    struct PackedCase {
        const char* type;
        QByteArray packed; // hand-made: protoc writes these proto2 fields unpacked
        const char* unpackedText;
    };
    const QByteArray packedIds = lengthDelimited(45, encodeVarint(5) + encodeVarint(300));
    const std::vector<PackedCase> cases = {
        { "MeasurementBundle", packedIds, "experiment_ids: 5 experiment_ids: 300" },
        // A packed run followed by an unpacked element of the same field.
        { "MeasurementBundle", packedIds + encodeVarint((45 << 3) | 0) + encodeVarint(7),
            "experiment_ids: 5 experiment_ids: 300 experiment_ids: 7" },
        { "ResultData",
            lengthDelimited(1, encodeVarint(1) + encodeVarint(UINT64_MAX))
                + lengthDelimited(2, encodeVarint(0) + encodeVarint(2) + encodeVarint(4)),
            "status: 1 status: 18446744073709551615 results: 0 results: 2 results: 4" },
        { "SequenceFilterResultTimestamp",
            encodeVarint(8) + encodeVarint(4)
                + lengthDelimited(2, encodeVarint(uint64_t(-5)) + encodeVarint(6)),
            "filter_id: 4 eval_timestamps: -5 eval_timestamps: 6" },
        { "ResultData", lengthDelimited(1, QByteArray()), "" },
    };
    for (const PackedCase& c : cases) {
        SCOPED_TRACE(c.unpackedText);
        EXPECT_FALSE(protocDecodeRaw(c.packed).isNull()); // the hand-made bytes are valid protobuf
        const QByteArray expected = protocEncode(c.type, c.unpackedText);
        const apmpb::MessageType& type = typeNamed(c.type);
        Record record = newOracleRecord(type);
        ASSERT_TRUE(apmpb::decode(type, reinterpret_cast<const uint8_t*>(c.packed.constData()),
            static_cast<size_t>(c.packed.size()), record.get()));
        EXPECT_EQ(hex(apmpb::encodeToByteArray(type, record.get()).value_or("<failed>")), hex(expected));
    }
}

TEST(WireOracle, UnknownTagsAreSkipped)
{
    const QByteArray known = protocEncode("Event", R"(params { name: "p" } name: "e" timestamp_millis: 5)");
    const QByteArray leading = encodeVarint((100 << 3) | 0) + encodeVarint(150); // varint
    QByteArray unknown = leading;
    unknown += encodeVarint((101 << 3) | 1) + QByteArray(8, '\x11'); // fixed64
    unknown += lengthDelimited(102, "abc"); // length-delimited
    unknown += encodeVarint((103 << 3) | 5) + QByteArray(4, '\x22'); // fixed32
    unknown += lengthDelimited(9, QByteArray("\x0a\x01x", 3)); // undefined tag that looks like a message
    const QByteArray mixed = leading + known + unknown.mid(leading.size());
    EXPECT_TRUE(protocDecodeRaw(mixed).contains("100: 150"));

    auto event = APMPBEvent::initWithBuffer(mixed);
    ASSERT_TRUE(event);
    EXPECT_EQ(APMPBGetStringField(event.get(), 1), QStringLiteral("e"));
    EXPECT_EQ(APMPBGetInt64Field(event.get(), 2), 5);
    EXPECT_EQ(hex(event->protoBuffer().value_or("<failed>")), hex(known));

    // Unknown fields inside a nested element are skipped the same way.
    const QByteArray nested = lengthDelimited(1, QByteArray("\x0a\x01p", 3) + unknown)
        + QByteArray("\x12\x01"
                     "e",
            3)
        + encodeVarint(24) + encodeVarint(5);
    auto again = APMPBEvent::initWithBuffer(nested);
    ASSERT_TRUE(again);
    EXPECT_EQ(hex(again->protoBuffer().value_or("<failed>")), hex(known));
}

TEST(WireOracle, RepeatedOccurrencesMergeAsProtocMergesThem)
{
    struct MergeCase {
        const char* type;
        const char* first;
        const char* second;
    };
    const std::vector<MergeCase> cases = {
        // The last occurrence of a singular string or scalar wins; repeated fields append.
        { "Event", R"(name: "first" timestamp_millis: 1 params { name: "a" })",
            R"(name: "second" timestamp_millis: 2 params { name: "b" })" },
        // Singular submessages merge field by field.
        { "AudienceLeafFilterResult", R"(current_results { status: 1 } audience_id: 4)",
            R"(current_results { status: 2 results: 3 })" },
        { "MeasurementConfig",
            R"(psm_setting { psm_prefix_email: 1 } consent_config { defaults { consent_type: NUMBER_1 } })",
            R"(psm_setting { psm_signin_delay: 3 } consent_config { is_dma_region: true } vmp_app_id: "x")" },
        { "ExperimentRequest", R"(app_property { platform: "one" sdk_version: 1 })",
            R"(app_property { platform: "two" } client_properties { sdk_name: "s" })" },
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.first);
        const QByteArray concatenated = protocEncode(c.type, c.first) + protocEncode(c.type, c.second);
        const QByteArray expected = protocEncode(c.type, protocDecode(c.type, concatenated));
        const apmpb::MessageType& type = typeNamed(c.type);
        Record record = newOracleRecord(type);
        ASSERT_TRUE(apmpb::decode(type, reinterpret_cast<const uint8_t*>(concatenated.constData()),
            static_cast<size_t>(concatenated.size()), record.get()));
        EXPECT_EQ(hex(apmpb::encodeToByteArray(type, record.get()).value_or("<failed>")), hex(expected));
    }
}

TEST(WireOracle, StringsUpToOneMebibyte)
{
    const QByteArray limit(1048576, 'x');
    const QByteArray expected = protocEncode("Setting", "name: \"" + limit + "\" value: \"v\"");
    auto setting = APMPBSetting::initWithBuffer(expected);
    ASSERT_TRUE(setting);
    EXPECT_EQ(APMPBGetStringField(setting.get(), 0).size(), 1048576);
    EXPECT_EQ(setting->protoBuffer().value_or("<failed>"), expected);

    auto built = APMPBSetting::initWithMessageInfo();
    APMPBSetStringField(built.get(), 0, QString::fromLatin1(limit));
    APMPBSetStringField(built.get(), 1, QStringLiteral("v"));
    EXPECT_EQ(built->protoBuffer().value_or("<failed>"), expected);

    struct TooBig {
        const char* type;
        QByteArray text;
    };
    const QByteArray over(1048577, 'y');
    const std::vector<TooBig> cases = {
        { "Setting", "value: \"" + over + "\"" },
        { "StringFilter", "expression_list: \"a\" expression_list: \"" + over + "\"" },
        { "Event", "params { name: \"" + over + "\" }" },
    };
    for (const TooBig& c : cases) {
        SCOPED_TRACE(c.type);
        const QByteArray bytes = protocEncode(c.type, c.text);
        testing::internal::CaptureStdout();
        bool decoded = true;
        if (std::string(c.type) == "Setting")
            decoded = APMPBSetting::initWithBuffer(bytes) != nullptr;
        else if (std::string(c.type) == "StringFilter")
            decoded = APMPBStringFilter::initWithBuffer(bytes) != nullptr;
        else
            decoded = APMPBEvent::initWithBuffer(bytes) != nullptr;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(decoded);
        EXPECT_NE(out.find("Unable to process proto stream. Buffer is too big. 1048577 > 1048576\n"),
            std::string::npos)
            << out;
    }
}

// A chain of EventParams, each the only element of its parent's param_value,
// written outside in (the lengths first) so that deep chains cost linear time.
QByteArray paramChain(int levels)
{
    const QByteArray leaf("\x0a\x04leaf", 6);
    std::vector<uint64_t> lengths(static_cast<std::size_t>(levels));
    lengths.back() = static_cast<uint64_t>(leaf.size());
    for (std::size_t i = lengths.size() - 1; i > 0; --i)
        lengths[i - 1] = 1 + static_cast<uint64_t>(encodeVarint(lengths[i]).size()) + lengths[i];
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(lengths.front()));
    for (std::size_t i = 1; i < lengths.size(); ++i)
        bytes += '\x32' + encodeVarint(lengths[i]);
    return bytes + leaf;
}

TEST(WireOracle, NestingIsLimitedToOneHundredLevels)
{
    // protoc, whose own recursion limit is 100 as well, agrees the chain is well formed.
    EXPECT_TRUE(protocDecode("EventParam", paramChain(100)).contains("leaf"));
    auto deepest = APMPBEventParam::initWithBuffer(paramChain(100));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->protoBuffer().value_or("<failed>"), paramChain(100));

    for (int levels : { 101, 5000, 200000 }) {
        SCOPED_TRACE(levels);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(APMPBEventParam::initWithBuffer(paramChain(levels)));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("<ERROR> EventParam decoder failed: message nested too deep"), std::string::npos);
    }

    // Inside an event the parameters start one level down.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(APMPBEvent::initWithBuffer(lengthDelimited(1, paramChain(99))));
    EXPECT_FALSE(APMPBEvent::initWithBuffer(lengthDelimited(1, paramChain(100))));
    testing::internal::GetCapturedStdout();

    // A singular submessage shares its parent's level: program (1), its
    // activities (1), an activity (2), then 98 runtime entities.
    QByteArray entities = QByteArray("\x08\x01", 2);
    for (int i = 1; i < 98; ++i)
        entities = lengthDelimited(2, entities);
    const QByteArray program = lengthDelimited(2, lengthDelimited(1, lengthDelimited(2, entities)));
    auto accepted = APMPBProgram::initWithBuffer(program);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->protoBuffer().value_or("<failed>"), program);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(APMPBProgram::initWithBuffer(
        lengthDelimited(2, lengthDelimited(1, lengthDelimited(2, lengthDelimited(2, entities))))));
    testing::internal::GetCapturedStdout();
}

TEST(WireOracle, ProtocReadsOurDeepestEncodingAndWeRefuseDeeper)
{
    auto deepest = APMPBEventParam::initWithBuffer(paramChain(100));
    ASSERT_TRUE(deepest);
    auto parent = APMPBEventParam::initWithMessageInfo();
    APMPBSetArrayField(parent.get(), 5, std::vector<const NANOMessageBase*> { deepest.get() });
    // 101 levels: neither encoded nor copied, so nothing deeper than we decode ever leaves.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parent->protoBuffer().has_value());
    EXPECT_FALSE(APMPBEventParam::initWithMessageInfo(parent->messageInfo()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("<ERROR> EventParam encoder failed: message nested deeper than 100 levels"),
        std::string::npos);
    EXPECT_NE(out.find("<ERROR> EventParam: Cannot copy a message nested deeper than 100 levels"),
        std::string::npos);
}

} // namespace
