// The device facts: the model asked once, the language lower-cased, whole
// minutes of time-zone offset, failures reported on the monitor; and the
// facts as they travel in every bundle.

#include "EngineTestFixture.h"
#include "TestMonitorHarness.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "fakes/FakeSystemFacts.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace experiment_environment_info_test {

// Facts from a script, reported on a monitor of the test's own, whose
// sampled record shows the silent reports.
class EnvironmentInfoTest : public ::testing::Test {
protected:
    QString takeRecord() { return harness_.takeRecord(); }

    test_monitor::TestMonitorHarness harness_ { [](int, const QString&, const QString&, const QString&) {} };
    std::shared_ptr<fakes::FakeSystemFacts> source_ = std::make_shared<fakes::FakeSystemFacts>();
    std::unique_ptr<APMEnvironmentInfo> info_
        = std::make_unique<APMEnvironmentInfo>(*source_, harness_.monitor.get());
};

} // namespace experiment_environment_info_test

using namespace experiment_environment_info_test;

TEST_F(EnvironmentInfoTest, TheModelIsAskedOnceTheOtherFactsOnEveryCall)
{
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([this] { EXPECT_EQ(info_->deviceModel(), QStringLiteral("Test Model")); });
    for (std::thread& reader : readers)
        reader.join();
    source_->setDeviceModel(QStringLiteral("Another Machine"));
    EXPECT_EQ(info_->deviceModel(), QStringLiteral("Test Model"));
    EXPECT_EQ(source_->modelQueries(), 1);

    EXPECT_EQ(info_->deviceOSVersion(), QStringLiteral("12"));
    source_->setOsVersion(QStringLiteral("13"));
    EXPECT_EQ(info_->deviceOSVersion(), QStringLiteral("13"));
    EXPECT_EQ(source_->versionQueries(), 2);
    EXPECT_TRUE(takeRecord().isNull()); // nothing failed
}

TEST_F(EnvironmentInfoTest, LanguageAndTimeZoneOffset)
{
    struct LanguageCase {
        QStringList preferred;
        QString expected;
    };
    const LanguageCase languages[] = {
        { { QStringLiteral("de-CH"), QStringLiteral("en") }, QStringLiteral("de-ch") },
        { { QStringLiteral("EN") }, QStringLiteral("en") },
        { { QStringLiteral("zh-Hant-TW") }, QStringLiteral("zh-hant-tw") },
    };
    for (const LanguageCase& c : languages) {
        source_->setPreferredLanguages(c.preferred);
        EXPECT_EQ(info_->userDefaultLanguage(), c.expected) << c.preferred.join(',').toStdString();
    }

    struct OffsetCase {
        int seconds;
        int minutes;
    };
    const OffsetCase offsets[] = {
        { 19800, 330 }, // 5 h 30 min ahead
        { -12600, -210 }, // 3 h 30 min behind
        { 0, 0 },
        { 59, 0 },
        { -59, 0 }, // toward zero, not down
        { -61, -1 },
        { -(5 * 3600 + 30 * 60 + 59), -330 },
        { 50400, 840 },
    };
    for (const OffsetCase& c : offsets) {
        source_->setTimeZoneOffsetSeconds(c.seconds);
        EXPECT_EQ(info_->timeZoneOffsetMinutes(), c.minutes) << c.seconds;
    }
}

TEST_F(EnvironmentInfoTest, MissingFactsAreReportedOnTheMonitor)
{
    source_->setDeviceModel(QString());
    EXPECT_TRUE(info_->deviceModel().isEmpty());
    EXPECT_TRUE(info_->deviceModel().isEmpty());
    EXPECT_EQ(source_->modelQueries(), 1);
    const QString record = takeRecord();
    EXPECT_EQ(record.count(QStringLiteral("Failed to get device model")), 1) << record.toStdString();

    source_->setPreferredLanguages({});
    EXPECT_TRUE(info_->userDefaultLanguage().isNull());
    EXPECT_TRUE(takeRecord().contains(QStringLiteral("Failed to get preferred language")));
}

namespace experiment_environment_info_test {

class EngineEnvironmentInfoTest : public engine_test::EngineFixture {
protected:
    fakes::FakeSystemFacts facts_;
    APMEnvironmentInfo info_ { facts_ };
};

} // namespace experiment_environment_info_test

TEST_F(EngineEnvironmentInfoTest, BundlesCarryTheDeviceFacts)
{
    facts_.setDeviceModel(QStringLiteral("Bench Machine 3"));
    facts_.setOsVersion(QStringLiteral("Debian 12"));
    facts_.setPreferredLanguages({ QStringLiteral("pt-BR") });
    facts_.setTimeZoneOffsetSeconds(-12600);
    APMMeasurement::Environment e = environment();
    e.environmentInfo = &info_;
    start(QString(), true, &e);
    logEvent(QStringLiteral("tick"));
    advance(15); // the first upload
    ASSERT_FALSE(server_.batches().isEmpty());
    const auto bundles = server_.batches()[0].bundles;
    ASSERT_FALSE(bundles.isEmpty());
    EXPECT_EQ(bundles[0].deviceModel, QStringLiteral("Bench Machine 3"));
    EXPECT_EQ(bundles[0].osVersion, QStringLiteral("Debian 12"));
    EXPECT_EQ(bundles[0].language, QStringLiteral("pt-br"));
    EXPECT_EQ(bundles[0].timeZoneOffsetMinutes, -210);

    // The facts are read again once an hour; without a preferred language
    // the field stays out.
    facts_.setPreferredLanguages({});
    advance(3600);
    logEvent(QStringLiteral("tock"));
    advance(3600);
    ASSERT_GE(server_.batches().size(), 2);
    const auto later = server_.batches().back().bundles;
    ASSERT_FALSE(later.isEmpty());
    for (const auto& bundle : later)
        EXPECT_TRUE(bundle.language.isNull());
}
