#include "ValidatorLogRecorder.h"
#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMEvent.h"
#include "analytics/wire/APMPBUserAttribute.h"
#include "analytics/model/APMPropertyFilter.h"
#include "analytics/model/APMRawEventData.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/base/APMValue.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <limits>

namespace {

APMValue recordStr(const QString& s)
{
    return APMValue::initWithValueType(APMValue::String, s);
}

// What `protoc --decode_raw` makes of the bytes: an encoder-independent view
// of the tags and values actually written.
QByteArray decodeRawRecord(const QByteArray& bytes)
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

APMEvent someEvent(const QString& name = QStringLiteral("_e"))
{
    return *APMEvent::initWithOrigin(QStringLiteral("auto"), false, name, 100, 0, {}, EventParameterLimits());
}

class APMStoredRecordsTest : public ::testing::Test {
protected:
    ValidatorLogRecorder recorder;
};

TEST_F(APMStoredRecordsTest, UserAttributeNeedsAValidNameAndValue)
{
    const struct {
        QString name;
        APMValue value;
        bool made;
    } rows[] = {
        { QStringLiteral("favorite_food"), recordStr(QStringLiteral("pizza")), true },
        { QStringLiteral("_fot"), APMValue::initWithInt64(5), true },
        { QStringLiteral("_ltv_USD"), APMValue::initWithDouble(2.5), true },
        { QString(), recordStr(QStringLiteral("x")), false },
        { QStringLiteral("bad name"), recordStr(QStringLiteral("x")), false },
        { QString(25, QLatin1Char('n')), recordStr(QStringLiteral("x")), false },
        { QStringLiteral("food"), recordStr(QString(37, QLatin1Char('v'))), false },
        { QStringLiteral("food"), recordStr(QString()), false },
        // The long identifiers may take up to 256 characters.
        { QStringLiteral("_id"), recordStr(QString(256, QLatin1Char('v'))), true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.name));
        const auto attribute
            = APMUserAttribute::initWithOrigin(QStringLiteral("app"), row.name, row.value, 7.5);
        ASSERT_EQ(attribute.has_value(), row.made);
        if (!attribute)
            continue;
        EXPECT_EQ(attribute->origin(), QStringLiteral("app"));
        EXPECT_EQ(attribute->name(), row.name);
        EXPECT_EQ(attribute->value(), row.value);
        EXPECT_EQ(attribute->lastSetTimestamp(), 7.5);
        EXPECT_EQ(attribute->isPublic(), !row.name.startsWith(QLatin1Char('_')));
    }
}

TEST_F(APMStoredRecordsTest, UserAttributeWireFormAsProtocReadsIt)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        APMValue value;
        double timestamp;
        const char* decoded;
    } rows[] = {
        { APMValue::initWithInt64(5), 12.3459, "1: 12345\n2: \"food\"\n4: 5\n" },
        { APMValue::initWithDouble(2.5), 1, "1: 1000\n2: \"food\"\n6: 0x4004000000000000\n" },
        { recordStr(QStringLiteral("pizza")), 0, "1: 0\n2: \"food\"\n3: \"pizza\"\n" },
        // -1000 as protoc prints an unsigned varint.
        { APMValue::initWithInt64(-1), -1.0005,
            "1: 18446744073709550616\n2: \"food\"\n4: 18446744073709551615\n" },
        // A set time that is no number of milliseconds is left out, not cast blindly.
        { APMValue::initWithInt64(1), nan, "2: \"food\"\n4: 1\n" },
        { APMValue::initWithInt64(1), 1e300, "2: \"food\"\n4: 1\n" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.decoded);
        const auto attribute = APMUserAttribute::initWithOrigin(
            QStringLiteral("app"), QStringLiteral("food"), row.value, row.timestamp);
        ASSERT_TRUE(attribute);
        const std::unique_ptr<APMPBUserAttribute> proto = attribute->protoUserAttribute();
        ASSERT_TRUE(proto);
        EXPECT_EQ(decodeRawRecord(proto->protoBuffer().value_or(QByteArray())).toStdString(), row.decoded);
    }

    // An array value (it passes the validator) writes no value at all.
    const auto array = APMUserAttribute::initWithOrigin(QStringLiteral("app"), QStringLiteral("food"),
        APMValue::initWithValueType(APMValue::Array, QVariantList { 1, 2 }), 2);
    ASSERT_TRUE(array);
    const std::unique_ptr<APMPBUserAttribute> proto = array->protoUserAttribute();
    ASSERT_TRUE(proto);
    EXPECT_EQ(decodeRawRecord(proto->protoBuffer().value_or(QByteArray())).toStdString(), "1: 2000\n2: \"food\"\n");
}

TEST_F(APMStoredRecordsTest, RawEventDataNeedsAnEventAndARowNumber)
{
    const auto first = APMRawEventData::initWithRawEvent(someEvent(), 0, -5);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rawEvent().name(), QStringLiteral("_e"));
    EXPECT_EQ(first->rowID(), 0);
    EXPECT_EQ(first->metadataFingerprint(), -5);
    EXPECT_TRUE(recorder.lines().empty());

    const auto last = APMRawEventData::initWithRawEvent(
        someEvent(), std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->metadataFingerprint(), std::numeric_limits<qint64>::min());

    EXPECT_FALSE(APMRawEventData::initWithRawEvent(someEvent(), -1, 1));
    ASSERT_TRUE(recorder.hasOnly(APMMonitor::kLevelWarningMonitored, 28001));
    EXPECT_TRUE(recorder.lines().front().message.contains(QStringLiteral("-1")));
    recorder.clear();

    EXPECT_FALSE(APMRawEventData::initWithRawEvent(std::nullopt, 3, 1));
    EXPECT_TRUE(recorder.hasOnly(APMMonitor::kLevelWarningMonitored, 28000));
}

TEST(APMPropertyFilterTest, KeepsItsArgumentsAsTheyWereGiven)
{
    QString name = QStringLiteral("food");
    QByteArray data("\x08\x02\x12\x04", 4);
    const APMPropertyFilter filter(-1, 2, name, data, false, true, false);
    name.append(QLatin1Char('s'));
    data[0] = 0;
    const APMPropertyFilter copy = filter;
    const APMAudienceFilter& base = copy;
    EXPECT_EQ(base.audienceID(), -1);
    EXPECT_EQ(base.filterID(), 2);
    EXPECT_FALSE(base.isSessionScoped());
    EXPECT_TRUE(base.isDynamic());
    EXPECT_FALSE(base.isSequence());
    EXPECT_EQ(copy.propertyName(), QStringLiteral("food"));
    EXPECT_EQ(copy.data(), QByteArray("\x08\x02\x12\x04", 4));
}

TEST_F(APMStoredRecordsTest, ConditionalUserPropertyIsAPlainCopyableRecord)
{
    const APMConditionalUserProperty empty;
    EXPECT_TRUE(empty.name().isEmpty());
    EXPECT_FALSE(empty.value());
    EXPECT_FALSE(empty.triggerEventName());
    EXPECT_FALSE(empty.triggeredEvent() || empty.timedOutEvent() || empty.expiredEvent());
    EXPECT_FALSE(empty.isActive());
    EXPECT_EQ(empty.creationTimestamp(), 0.0);

    APMConditionalUserProperty property;
    property.setName(QStringLiteral("plan"));
    property.setOrigin(QStringLiteral("app"));
    property.setValue(recordStr(QStringLiteral("gold")));
    property.setTriggerEventName(QStringLiteral("purchase"));
    property.setTriggerTimeout(60);
    property.setTimeToLive(3600);
    property.setTriggeredEvent(someEvent(QStringLiteral("triggered")));
    property.setTimedOutEvent(someEvent(QStringLiteral("timed_out")));
    property.setExpiredEvent(someEvent(QStringLiteral("expired")));
    property.setCreationTimestamp(1000);
    property.setActive(true);
    property.setTriggeredTimestamp(1010);

    const APMConditionalUserProperty copy = property;
    property.setName(QStringLiteral("other"));
    property.setValue(std::nullopt);
    property.setTriggeredEvent(std::nullopt);
    property.setActive(false);

    EXPECT_EQ(copy.name(), QStringLiteral("plan"));
    EXPECT_EQ(copy.origin(), QStringLiteral("app"));
    EXPECT_EQ(copy.value(), recordStr(QStringLiteral("gold")));
    EXPECT_EQ(copy.triggerEventName(), QStringLiteral("purchase"));
    EXPECT_EQ(copy.triggerTimeout(), 60.0);
    EXPECT_EQ(copy.timeToLive(), 3600.0);
    ASSERT_TRUE(copy.triggeredEvent() && copy.timedOutEvent() && copy.expiredEvent());
    EXPECT_EQ(copy.triggeredEvent()->name(), QStringLiteral("triggered"));
    EXPECT_EQ(copy.timedOutEvent()->name(), QStringLiteral("timed_out"));
    EXPECT_EQ(copy.expiredEvent()->name(), QStringLiteral("expired"));
    EXPECT_EQ(copy.creationTimestamp(), 1000.0);
    EXPECT_TRUE(copy.isActive());
    EXPECT_EQ(copy.triggeredTimestamp(), 1010.0);
}

} // namespace
