#include "ValidatorLogRecorder.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/model/APMPEvent.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/base/APMValue.h"

#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

const double kNow = 1'700'000'000.5;

APMValue str(const QString& s)
{
    return APMValue::initWithValueType(APMValue::String, s);
}

// What `protoc --decode_raw` makes of the bytes: an encoder-independent view
// of the tags and values actually written.
QByteArray decodeRaw(const QByteArray& bytes)
{
    const QString protoc = QStandardPaths::findExecutable(QStringLiteral("protoc"));
    if (protoc.isEmpty()) {
        ADD_FAILURE() << "protoc is needed to check the wire form";
        return {};
    }
    QProcess process;
    process.start(protoc, { QStringLiteral("--decode_raw") });
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "protoc did not start";
        return {};
    }
    process.write(bytes);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    return process.readAllStandardOutput();
}

std::unique_ptr<APMPBEventParam> eventParam(const QString& name)
{
    auto p = APMPBEventParam::initWithMessageInfo();
    if (!name.isNull())
        APMPBSetStringField(p.get(), 0, name);
    return p;
}

class APMEventModelTest : public ::testing::Test {
protected:
    ValidatorLogRecorder recorder;
    EventParameterLimits limits;

    APMEvent make(const QString& name, const QVariantMap& parameters, double previousTimestamp = 0,
        double timestamp = kNow)
    {
        std::optional<APMEvent> event = APMEvent::initWithOrigin(
            QStringLiteral("app"), false, name, timestamp, previousTimestamp, parameters, limits);
        EXPECT_TRUE(event.has_value()) << qPrintable(name);
        return event.value_or(
            *APMEvent::initWithOrigin(QStringLiteral("app"), false, QStringLiteral("_x"), 0, 0, {}, limits));
    }

    QByteArray wire(const APMEvent& event)
    {
        const std::unique_ptr<APMPBEvent> proto = event.protoEvent();
        if (!proto) {
            ADD_FAILURE() << "no wire form";
            return {};
        }
        return proto->protoBuffer().value_or(QByteArray());
    }
};

TEST_F(APMEventModelTest, WireFormRoundTripKeepsScalarsAndMillisecondsButNotItems)
{
    const QVariantList items { QVariantMap { { QStringLiteral("item_id"), QStringLiteral("sku") } } };
    const APMEvent event = make(QStringLiteral("purchase"),
        { { QStringLiteral("label"), QStringLiteral("gold") }, { QStringLiteral("count"), 3 },
            { QStringLiteral("ratio"), 2.5 }, { QStringLiteral("items"), items } },
        1'699'999'999.1234, 1'700'000'000.9876);
    ASSERT_TRUE(event.parameters().contains(QStringLiteral("items")));

    const std::unique_ptr<APMPBEvent> proto = event.protoEvent();
    ASSERT_TRUE(proto);
    const std::optional<APMEvent> back = APMEvent::initWithEventProto(*proto, limits);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->name(), QStringLiteral("purchase"));
    EXPECT_EQ(back->origin(), QStringLiteral("app"));
    EXPECT_EQ(back->timestamp(), 1'700'000'000.987);
    EXPECT_EQ(back->previousTimestamp(), 1'699'999'999.123);
    EventParameters expected = event.parameters();
    expected.remove(QStringLiteral("items"));
    EXPECT_EQ(back->parameters(), expected);
}

TEST_F(APMEventModelTest, WireFormAsProtocReadsIt)
{
    const QVariantList items {
        QVariantMap {
            { QStringLiteral("item_id"), QStringLiteral("sku") }, { QStringLiteral("price"), 1.5 } },
        QVariantMap { { QStringLiteral("quantity"), 2 } },
    };
    const APMEvent event = make(QStringLiteral("purchase"),
        { { QStringLiteral("count"), 3 }, { QStringLiteral("items"), items } }, 1.5, 2.25);
    // Parameters in name order; 1.5 is the double 0x3FF8000000000000.
    EXPECT_EQ(decodeRaw(wire(event)).toStdString(),
        "1 {\n"
        "  1: \"_o\"\n"
        "  2: \"app\"\n"
        "}\n"
        "1 {\n"
        "  1: \"count\"\n"
        "  3: 3\n"
        "}\n"
        "1 {\n"
        "  1: \"items\"\n"
        "  6 {\n"
        "    6 {\n"
        "      1: \"item_id\"\n"
        "      2: \"sku\"\n"
        "    }\n"
        "    6 {\n"
        "      1: \"price\"\n"
        "      5: 0x3ff8000000000000\n"
        "    }\n"
        "  }\n"
        "  6 {\n"
        "    6 {\n"
        "      1: \"quantity\"\n"
        "      3: 2\n"
        "    }\n"
        "  }\n"
        "}\n"
        "2: \"purchase\"\n"
        "3: 2250\n"
        "4: 1500\n");
}

TEST_F(APMEventModelTest, WireTimesAreWrittenOnlyWhenTheyFit)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double timestamp;
        double previous;
        const char* times; // the decoded time fields
    } rows[] = {
        { 12.3459, 0, "3: 12345\n" },
        { 5, 1e-17, "3: 5000\n" }, // a previous time of (almost) zero is no previous time
        { 5, -3, "3: 5000\n" },
        { 5, 0.002, "3: 5000\n4: 2\n" },
        { -1.0005, 0, "3: 18446744073709550616\n" }, // -1000 as protoc prints an unsigned varint
        { nan, nan, "" },
        { inf, inf, "" },
        { -inf, 0, "" },
        { 9.3e15, 9.3e15, "" },
        { -9.3e15, 0, "" },
        { 9.2e15, 9.2e15, "3: 9200000000000000000\n4: 9200000000000000000\n" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.timestamp << " / " << row.previous);
        const std::optional<APMEvent> event = APMEvent::initWithOrigin(
            QStringLiteral("app"), false, QStringLiteral("_e"), row.timestamp, row.previous, {}, limits);
        ASSERT_TRUE(event);
        const std::string expected
            = std::string("1 {\n  1: \"_o\"\n  2: \"app\"\n}\n2: \"_e\"\n") + row.times;
        EXPECT_EQ(decodeRaw(wire(*event)).toStdString(), expected);
    }
}

TEST(APMMillisecondsFromSecondsTest, TruncatesTowardZeroAndRefusesWhatDoesNotFit)
{
    const struct {
        double seconds;
        std::optional<qint64> millis;
    } rows[] = {
        { 0, 0 },
        { 12.3459, 12345 },
        { -1.0005, -1000 },
        { 1'700'000'000.5, 1'700'000'000'500 },
        { 9.2e15, 9'200'000'000'000'000'000 },
        { -9.2e15, -9'200'000'000'000'000'000 },
        { 9.3e15, std::nullopt },
        { -9.3e15, std::nullopt },
        { std::numeric_limits<double>::infinity(), std::nullopt },
        { -std::numeric_limits<double>::infinity(), std::nullopt },
        { std::numeric_limits<double>::quiet_NaN(), std::nullopt },
        { std::numeric_limits<double>::max(), std::nullopt },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(APMMillisecondsFromSeconds(row.seconds), row.millis);
    }
}

TEST_F(APMEventModelTest, ReadingTheWireFormSkipsWhatAnEventDoesNotKeep)
{
    auto proto = APMPBEvent::initWithMessageInfo();
    APMPBSetStringField(proto.get(), 1, QStringLiteral("_vs"));
    APMPBSetInt64Field(proto.get(), 2, 1'700'000'000'250);
    APMPBSetInt64Field(proto.get(), 3, 1'699'999'999'000);

    std::vector<std::unique_ptr<APMPBEventParam>> params;
    auto origin = eventParam(QStringLiteral("_o"));
    APMPBSetStringField(origin.get(), 1, QStringLiteral("auto"));
    params.push_back(std::move(origin));
    auto nameless = eventParam(QString());
    APMPBSetInt64Field(nameless.get(), 2, 1);
    params.push_back(std::move(nameless));
    auto floating = eventParam(QStringLiteral("f"));
    APMPBSetFloatField(floating.get(), 3, 1.5f);
    params.push_back(std::move(floating));
    auto array = eventParam(QStringLiteral("items"));
    std::vector<std::unique_ptr<APMPBEventParam>> elements;
    elements.push_back(eventParam(QStringLiteral("x")));
    APMPBSetArrayField(array.get(), 5, elements);
    params.push_back(std::move(array));
    params.push_back(eventParam(QStringLiteral("empty")));
    auto text = eventParam(QStringLiteral("_sn"));
    APMPBSetStringField(text.get(), 1, QStringLiteral("Home"));
    params.push_back(std::move(text));
    auto integer = eventParam(QStringLiteral("_si"));
    APMPBSetInt64Field(integer.get(), 2, -7);
    params.push_back(std::move(integer));
    auto real = eventParam(QStringLiteral("_et"));
    APMPBSetDoubleField(real.get(), 4, 0.25);
    params.push_back(std::move(real));
    APMPBSetArrayField(proto.get(), 0, params);

    const std::optional<APMEvent> event = APMEvent::initWithEventProto(*proto, limits);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), QStringLiteral("_vs"));
    EXPECT_EQ(event->origin(), QStringLiteral("auto"));
    EXPECT_EQ(event->timestamp(), 1'700'000'000.25);
    EXPECT_EQ(event->previousTimestamp(), 1'699'999'999.0);
    EXPECT_EQ(event->parameters(),
        (EventParameters { { QStringLiteral("_o"), str(QStringLiteral("auto")) },
            { QStringLiteral("_sn"), str(QStringLiteral("Home")) },
            { QStringLiteral("_si"), APMValue::initWithInt64(-7) },
            { QStringLiteral("_et"), APMValue::initWithDouble(0.25) } }));
}

TEST_F(APMEventModelTest, ReadingTheWireFormNeedsATextOrigin)
{
    const auto build = [](std::unique_ptr<APMPBEventParam> origin) {
        auto proto = APMPBEvent::initWithMessageInfo();
        APMPBSetStringField(proto.get(), 1, QStringLiteral("_e"));
        std::vector<std::unique_ptr<APMPBEventParam>> params;
        if (origin)
            params.push_back(std::move(origin));
        APMPBSetArrayField(proto.get(), 0, params);
        return proto;
    };
    auto numeric = eventParam(QStringLiteral("_o"));
    APMPBSetInt64Field(numeric.get(), 2, 1);
    EXPECT_FALSE(APMEvent::initWithEventProto(*build(std::move(numeric)), limits));
    EXPECT_FALSE(APMEvent::initWithEventProto(*build(nullptr), limits));
    auto invalid = eventParam(QStringLiteral("_o"));
    APMPBSetStringField(invalid.get(), 1, QStringLiteral("a-b"));
    EXPECT_FALSE(APMEvent::initWithEventProto(*build(std::move(invalid)), limits));
    // Bytes that come from outside: whatever decodes, nothing crashes.
    const std::unique_ptr<APMPBEvent> empty = APMPBEvent::initWithBuffer(QByteArray());
    ASSERT_TRUE(empty);
    EXPECT_FALSE(APMEvent::initWithEventProto(*empty, limits));
}

// The bytes written directly are the record's encoding, with and without
// the name.
TEST_F(APMEventModelTest, DirectWireBytesAreTheEncodedRecord)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const QVariantList items {
        QVariantMap { { QStringLiteral("item_id"), QStringLiteral("sku") }, { QStringLiteral("price"), 1.5 },
            { QStringLiteral("quantity"), -2 } },
        QVariantMap {},
        QStringLiteral("not an item"),
        QVariantMap { { QStringLiteral("nested"), QVariantList { 1, 2 } } },
    };
    const struct {
        const char* label;
        QString name;
        QVariantMap parameters;
        double timestamp;
        double previous;
    } rows[] = {
        { "origin only", QStringLiteral("_e"), {}, kNow, 0 },
        { "scalars of every kind", QStringLiteral("_e"),
            { { QStringLiteral("zero"), 0 }, { QStringLiteral("negative"), -1 },
                { QStringLiteral("lowest"), std::numeric_limits<qint64>::min() },
                { QStringLiteral("highest"), std::numeric_limits<qint64>::max() },
                { QStringLiteral("real"), 2.5 }, { QStringLiteral("minus_zero"), -0.0 },
                { QStringLiteral("not_a_number"), nan },
                { QStringLiteral("empty"), QString(QLatin1String("")) },
                { QStringLiteral("text"), QStringLiteral("Gr\u00fc\u00dfe \U0001F600") },
                { QStringLiteral("lone_surrogate"), QString(QChar(0xD800)) } },
            kNow, kNow - 60 },
        // 256 two-byte characters: the parameter's length takes two bytes.
        { "long text", QStringLiteral("_e"), { { QStringLiteral("long"), QString(256, QChar(0xE9)) } }, kNow,
            0 },
        { "items", QStringLiteral("purchase"),
            { { QStringLiteral("items"), items }, { QStringLiteral("count"), 3 } }, kNow, 1.5 },
        { "times that do not fit", QStringLiteral("_e"), { { QStringLiteral("x"), 1 } }, nan, 9.3e15 },
        { "negative time", QStringLiteral("_e"), {}, -1.0005, -3 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const APMEvent event = make(row.name, row.parameters, row.previous, row.timestamp);
        const std::unique_ptr<APMPBEvent> proto = event.protoEvent();
        ASSERT_TRUE(proto);
        const QByteArray encoded = proto->protoBuffer().value_or(QByteArray("<failed>"));
        APMPBClearField(proto.get(), 1);
        const QByteArray encodedWithoutName = proto->protoBuffer().value_or(QByteArray("<failed>"));

        EXPECT_EQ(event.protoBytes().toHex(), encoded.toHex());
        EXPECT_EQ(event.protoBytes(APMEvent::NameInWireForm::Leave).toHex(), encodedWithoutName.toHex());
    }
}

// A stored text that is not UTF-8 reads as no value: the parameter is left
// out, so the event writes a wire form that reads back as the same event.
TEST_F(APMEventModelTest, ReadingTheWireFormLeavesOutTextThatIsNotUtf8)
{
    const QByteArray origin = QByteArray::fromHex("0a025f6f1204") + "auto";
    const QByteArray broken = QByteArray::fromHex("0a03") + "cur" + QByteArray::fromHex("1203") + "EU\xD3";
    const QByteArray bytes = QByteArray::fromHex("0a0a") + origin + QByteArray::fromHex("0a0a") + broken
        + QByteArray::fromHex("12025f65");
    const std::unique_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(bytes);
    ASSERT_TRUE(proto);

    const std::optional<APMEvent> event = APMEvent::initWithEventProto(*proto, limits);
    ASSERT_TRUE(event);
    EXPECT_EQ(
        event->parameters(), (EventParameters { { QStringLiteral("_o"), str(QStringLiteral("auto")) } }));
    const std::optional<QByteArray> written = event->protoEvent()->protoBuffer();
    ASSERT_TRUE(written);
    const std::optional<APMEvent> back
        = APMEvent::initWithEventProto(*APMPBEvent::initWithBuffer(*written), limits);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->parameters(), event->parameters());
}

TEST_F(APMEventModelTest, EditFormUsesPublicNamesAndPlainValues)
{
    const QVariantList items { QVariantMap { { QStringLiteral("item_id"), QStringLiteral("sku") },
        { QStringLiteral("quantity"), 2 }, { QStringLiteral("price"), 1.5 } } };
    const APMEvent event
        = make(QStringLiteral("_vs"), { { QStringLiteral("_sn"), QStringLiteral("Home") } }, 7);
    const APMPEvent edit = event.editEvent();
    EXPECT_EQ(edit.name(), QStringLiteral("screen_view"));
    EXPECT_EQ(edit.timestamp(), kNow);
    const QVariantMap expected { { QStringLiteral("_o"), QStringLiteral("app") },
        { QStringLiteral("_sn"), QStringLiteral("Home") } };
    EXPECT_EQ(edit.parameters(), expected);
    EXPECT_EQ(edit.parameters().value(QStringLiteral("_o")).metaType().id(), QMetaType::QString);

    const APMEvent purchase = make(QStringLiteral("purchase"),
        { { QStringLiteral("items"), items }, { QStringLiteral("n"), 4 }, { QStringLiteral("r"), 0.5 } });
    const QVariantMap plain = purchase.editEvent().parameters();
    EXPECT_EQ(purchase.editEvent().name(), QStringLiteral("purchase"));
    EXPECT_EQ(plain.value(QStringLiteral("n")).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(plain.value(QStringLiteral("r")).metaType().id(), QMetaType::Double);
    const QVariantList plainItems = plain.value(QStringLiteral("items")).toList();
    ASSERT_EQ(plainItems.size(), 1);
    const QVariantMap item = plainItems.front().toMap();
    EXPECT_EQ(item.value(QStringLiteral("item_id")), QVariant(QStringLiteral("sku")));
    EXPECT_EQ(item.value(QStringLiteral("quantity")), QVariant(qint64(2)));
    EXPECT_EQ(item.value(QStringLiteral("price")), QVariant(1.5));
}

TEST_F(APMEventModelTest, EditedEventComesBackUnderItsInternalName)
{
    const APMEvent event
        = make(QStringLiteral("_vs"), { { QStringLiteral("_sn"), QStringLiteral("Home") } }, 7);
    std::optional<APMEvent> back = APMEvent::eventFromEditEvent(event.editEvent(), limits);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), QStringLiteral("_vs"));
    EXPECT_EQ(back->origin(), QStringLiteral("app"));
    EXPECT_EQ(back->timestamp(), kNow);
    EXPECT_EQ(back->previousTimestamp(), 0.0);
    EXPECT_EQ(back->parameters(), event.parameters());

    const struct {
        QVariant origin;
        const char* expected;
    } rows[] = {
        { QStringLiteral("auto"), "auto" }, { QVariant(), "app" }, // no origin: the application's
        { QVariant(5), "app" }, // not a text: the application's
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        QVariantMap parameters { { QStringLiteral("level"), 3 } };
        if (row.origin.isValid())
            parameters.insert(QStringLiteral("_o"), row.origin);
        const std::optional<APMEvent> made
            = APMEvent::eventFromEditEvent(APMPEvent(QStringLiteral("level_up"), 42, parameters), limits);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->origin(), QString::fromLatin1(row.expected));
        EXPECT_EQ(made->parameters().value(QStringLiteral("_o")), str(QString::fromLatin1(row.expected)));
        EXPECT_EQ(made->parameters().value(QStringLiteral("level")), APMValue::initWithInt64(3));
    }

    // An edit that gives the event a name it may not have is refused.
    EXPECT_FALSE(APMEvent::eventFromEditEvent(APMPEvent(QStringLiteral("a b"), 42, {}), limits));
}

TEST_F(APMEventModelTest, AggregatesRefuseBadNamesAndNegativeCounts)
{
    const struct {
        QString name;
        qint32 lifetime, bundle, session;
        bool made;
    } rows[] = {
        { QStringLiteral("_e"), 0, 0, 0, true },
        { QStringLiteral("purchase"), 2147483647, 1, 2, true },
        { QString(), 0, 0, 0, false },
        { QStringLiteral("a b"), 0, 0, 0, false },
        { QStringLiteral("_e"), -1, 0, 0, false },
        { QStringLiteral("_e"), 0, -1, 0, false },
        { QStringLiteral("_e"), 0, 0, -2147483647 - 1, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.name));
        const auto made
            = APMEventAggregates::initWithName(row.name, row.lifetime, row.bundle, row.session, 9.5);
        ASSERT_EQ(made.has_value(), row.made);
        if (!made)
            continue;
        EXPECT_EQ(made->name(), row.name);
        EXPECT_EQ(made->lifetimeCount(), row.lifetime);
        EXPECT_EQ(made->currentBundleCount(), row.bundle);
        EXPECT_EQ(made->currentSessionCount(), row.session);
        EXPECT_EQ(made->lastFireTimestamp(), 9.5);
        EXPECT_EQ(made->lastBundledTimestamp(), 0.0);
        EXPECT_EQ(made->lastSampledComplexEventID(), std::nullopt);
        EXPECT_EQ(made->lastSamplingRate(), 1);
        EXPECT_FALSE(made->lastExemptFromSampling());
        EXPECT_EQ(made->lastBundledDay(), 0);
    }
}

TEST_F(APMEventModelTest, AggregateCountsWrapToZeroInsteadOfOverflowing)
{
    constexpr qint32 kMax = std::numeric_limits<qint32>::max();
    using Count = qint32 (APMEventAggregates::*)() const;
    using Increment = void (APMEventAggregates::*)();
    const struct {
        const char* which;
        Count count;
        Increment increment;
    } rows[] = {
        { "lifetime", &APMEventAggregates::lifetimeCount, &APMEventAggregates::incrementLifetimeCount },
        { "bundle", &APMEventAggregates::currentBundleCount,
            &APMEventAggregates::incrementCurrentBundleCount },
        { "session", &APMEventAggregates::currentSessionCount,
            &APMEventAggregates::incrementCurrentSessionCount },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.which);
        auto aggregates
            = APMEventAggregates::initWithName(QStringLiteral("_e"), kMax - 1, kMax - 1, kMax - 1, 0);
        ASSERT_TRUE(aggregates);
        (*aggregates.*row.increment)();
        EXPECT_EQ((*aggregates.*row.count)(), kMax);
        (*aggregates.*row.increment)();
        EXPECT_EQ((*aggregates.*row.count)(), 0);
        (*aggregates.*row.increment)();
        EXPECT_EQ((*aggregates.*row.count)(), 1);
        // Only the counter that was incremented moved.
        for (const auto& other : rows) {
            if (other.count != row.count) {
                EXPECT_EQ((*aggregates.*other.count)(), kMax - 1) << other.which;
            }
        }
    }
}

TEST_F(APMEventModelTest, AggregatesKeepWhatIsSetAndCopiesAreIndependent)
{
    auto aggregates = APMEventAggregates::initWithName(QStringLiteral("_e"), 1, 2, 3, 4);
    ASSERT_TRUE(aggregates);
    aggregates->setLastFireTimestamp(10);
    aggregates->setLastBundledTimestamp(11);
    aggregates->setLastSampledComplexEventID(-12);
    aggregates->setLastSamplingRate(13);
    aggregates->setLastExemptFromSampling(true);
    aggregates->setLastBundledDay(14);
    const APMEventAggregates copy = *aggregates;
    aggregates->incrementLifetimeCount();
    aggregates->setLastSampledComplexEventID(std::nullopt);
    EXPECT_EQ(copy.lifetimeCount(), 1);
    EXPECT_EQ(copy.lastFireTimestamp(), 10.0);
    EXPECT_EQ(copy.lastBundledTimestamp(), 11.0);
    EXPECT_EQ(copy.lastSampledComplexEventID(), -12);
    EXPECT_EQ(copy.lastSamplingRate(), 13);
    EXPECT_TRUE(copy.lastExemptFromSampling());
    EXPECT_EQ(copy.lastBundledDay(), 14);
    EXPECT_EQ(aggregates->lifetimeCount(), 2);
    EXPECT_EQ(aggregates->lastSampledComplexEventID(), std::nullopt);
}

TEST(APMAudienceRecordsTest, FilterRecordsKeepTheirArguments)
{
    QByteArray data("\x08\x07", 2);
    QString name = QStringLiteral("purchase");
    const APMEventFilter filter(3, -4, name, data, true, false, true);
    data[0] = 'x';
    name[0] = QLatin1Char('X');
    const APMAudienceFilter& base = filter;
    EXPECT_EQ(base.audienceID(), 3);
    EXPECT_EQ(base.filterID(), -4);
    EXPECT_TRUE(base.isSessionScoped());
    EXPECT_FALSE(base.isDynamic());
    EXPECT_TRUE(base.isSequence());
    EXPECT_EQ(filter.eventName(), QStringLiteral("purchase"));
    EXPECT_EQ(filter.data(), QByteArray("\x08\x07", 2));

    const APMFilterResult result(9, QByteArray("cur"), QByteArray("prev"));
    const APMFilterResult copy = result;
    EXPECT_EQ(copy.audienceID(), 9);
    EXPECT_EQ(copy.currentResults(), QByteArray("cur"));
    EXPECT_EQ(copy.previousResults(), QByteArray("prev"));
}

} // namespace
