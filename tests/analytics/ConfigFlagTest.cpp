#include "analytics/config/APMEFlagConversion.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFlag.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"

#include <QPoint>

#include <gtest/gtest.h>
#include <vector>

namespace {

class FlagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vul_.setSink([](int, const QString&, const QString&, const QString&) {});
        APMMonitor::Environment e;
        e.queue = &time_;
        e.clock = &time_;
        e.monitorUserDefaults = &monitorDefaults_;
        e.sharedUserDefaults = &sharedDefaults_;
        e.utilitiesLogger = &vul_;
        e.randomBelow = [](quint64) { return quint64(0); };
        monitor_ = std::make_unique<APMMonitor>(102700, e);
    }

    QString takeRecord() { return monitor_->monitoringDataForDispatchWithSamplePeriod(-1, 0); }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    platform::Preferences monitorPrefs_ { home_.path() + QStringLiteral("/m.plist") };
    platform::Preferences sharedPrefs_ { home_.path() + QStringLiteral("/s.plist") };
    APMUserDefaults monitorDefaults_ { APMMonitor::kMonitorSuiteName, monitorPrefs_ };
    APMUserDefaults sharedDefaults_ { QString(), sharedPrefs_ };
    VULLogger vul_;
    std::unique_ptr<APMMonitor> monitor_;
};

struct RoundTrip {
    const char* name;
    QVariant value;
    QVariant readBack;
    int32_t slot; // where the value went
};

TEST_F(FlagTest, ValuesRoundTripThroughTheMessage)
{
    const std::vector<RoundTrip> cases = {
        { "integer", QVariant(42), QVariant(42LL), 1 },
        { "string", QVariant(QStringLiteral("on")), QVariant(QStringLiteral("on")), 2 },
        { "real", QVariant(0.25), QVariant(0.25), 3 },
        { "boolean is an integer", QVariant(true), QVariant(1LL), 1 },
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        auto flag = APMEFlagProtoFromNameAndValue(QStringLiteral("flag_a"), c.value, *monitor_);
        ASSERT_TRUE(flag);
        EXPECT_EQ(APMPBGetStringField(flag.get(), 0), QStringLiteral("flag_a"));
        EXPECT_TRUE(APMPBHasField(flag.get(), c.slot));
        const QVariant back = APMEFlagValueFromProto(flag.get());
        EXPECT_EQ(back.metaType(), c.readBack.metaType());
        EXPECT_EQ(back, c.readBack);
        // Through the wire and back as well.
        auto decoded = APMPBFlag::initWithBuffer(*flag->protoBuffer());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(APMEFlagValueFromProto(decoded.get()), c.readBack);
    }
}

TEST_F(FlagTest, IntegerWinsOverOtherValues)
{
    auto flag = APMPBFlag::initWithMessageInfo();
    APMPBSetStringField(flag.get(), 2, QStringLiteral("text"));
    APMPBSetInt64Field(flag.get(), 1, 5);
    EXPECT_EQ(APMEFlagValueFromProto(flag.get()), QVariant(5LL));

    auto boolOnly = APMPBFlag::initWithMessageInfo();
    APMPBSetBoolField(boolOnly.get(), 4, false);
    EXPECT_EQ(APMEFlagValueFromProto(boolOnly.get()), QVariant(false));

    auto empty = APMPBFlag::initWithMessageInfo();
    EXPECT_FALSE(APMEFlagValueFromProto(empty.get()).isValid());
    EXPECT_FALSE(APMEFlagValueFromProto(nullptr).isValid());
}

TEST_F(FlagTest, BadNamesAndValuesAreRefused)
{
    struct Case {
        const char* name;
        QVariant flagName;
        QVariant value;
        const char* record;
    };
    const std::vector<Case> cases = {
        { "no name", QVariant(), 1, "1:1E_102700:Flag name must not be nil" },
        { "name not a string", QVariant(7), 1, "1:1E_102700:Flag name must be a string:-" },
        { "value a point", QStringLiteral("f"), QVariant::fromValue(QPoint()),
            "1:1E_102700:Flag value is invalid:-" },
        { "no value", QStringLiteral("f"), QVariant(), "1:1E_102700:Flag value is invalid" },
        { "value a list", QStringLiteral("f"), QVariantList { 1 }, "1:1E_102700:Flag value is invalid:-" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(APMEFlagProtoFromNameAndValue(c.flagName, c.value, *monitor_));
        EXPECT_EQ(takeRecord(), QString::fromLatin1(c.record));
    }
}

} // namespace
