// The device facts: the model asked once, the language lower-cased, whole
// minutes of time-zone offset, failures reported on the monitor; the
// system's own source; and the facts as they travel in every bundle.

#include "EngineTestFixture.h"
#include "TestMonitorHarness.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMSystemEnvironmentSource.h"
#include "fakes/FakeEnvironmentSource.h"

#include <QFile>
#include <QTemporaryDir>

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
    std::shared_ptr<fakes::FakeEnvironmentSource> source_ = std::make_shared<fakes::FakeEnvironmentSource>();
    std::unique_ptr<APMEnvironmentInfo> info_
        = std::make_unique<APMEnvironmentInfo>(source_, harness_.monitor.get());
};

} // namespace experiment_environment_info_test

using namespace experiment_environment_info_test;

TEST_F(EnvironmentInfoTest, TheModelIsAskedOnceTheOtherFactsOnEveryCall)
{
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([this] { EXPECT_EQ(info_->deviceModel(), QStringLiteral("Test Machine 1")); });
    for (std::thread& reader : readers)
        reader.join();
    source_->model = QStringLiteral("Another Machine");
    EXPECT_EQ(info_->deviceModel(), QStringLiteral("Test Machine 1"));
    EXPECT_EQ(source_->modelQueries, 1);

    EXPECT_EQ(info_->deviceOSVersion(), QStringLiteral("12"));
    source_->version = QStringLiteral("13");
    EXPECT_EQ(info_->deviceOSVersion(), QStringLiteral("13"));
    EXPECT_EQ(source_->versionQueries, 2);
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
        source_->languages = c.preferred;
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
        { 50400, 840 },
    };
    for (const OffsetCase& c : offsets) {
        source_->offsetSeconds = c.seconds;
        EXPECT_EQ(info_->timeZoneOffsetMinutes(), c.minutes) << c.seconds;
    }
}

TEST_F(EnvironmentInfoTest, MissingFactsAreReportedOnTheMonitor)
{
    source_->model.clear();
    EXPECT_TRUE(info_->deviceModel().isEmpty());
    EXPECT_TRUE(info_->deviceModel().isEmpty());
    EXPECT_EQ(source_->modelQueries, 1);
    const QString record = takeRecord();
    EXPECT_EQ(record.count(QStringLiteral("Failed to get device model")), 1) << record.toStdString();

    source_->languages.clear();
    EXPECT_TRUE(info_->userDefaultLanguage().isNull());
    EXPECT_TRUE(takeRecord().contains(QStringLiteral("Failed to get preferred language")));
}

TEST(SystemEnvironmentSource, TheModelIsTheProductNameElseAFixedOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* what;
        std::optional<QByteArray> contents; // nothing: no file
        QString expected;
    };
    const Case cases[] = {
        { "product name with its newline", QByteArray("  Desk Machine 7\n"), QStringLiteral("Desk Machine 7") },
        { "no such file", std::nullopt, APMSystemEnvironmentSource::kFallbackDeviceModel },
        { "empty file", QByteArray(), APMSystemEnvironmentSource::kFallbackDeviceModel },
        { "only blanks", QByteArray(" \n\t\n"), APMSystemEnvironmentSource::kFallbackDeviceModel },
    };
    int index = 0;
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("product_name_%1").arg(index++));
        if (c.contents) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*c.contents);
        }
        APMSystemEnvironmentSource source(path);
        EXPECT_EQ(source.deviceModel(), c.expected) << c.what;
    }
    // A name far longer than any product name is cut, not read whole.
    const QString longPath = dir.filePath(QStringLiteral("long"));
    {
        QFile file(longPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1 << 20, 'x'));
    }
    EXPECT_LE(APMSystemEnvironmentSource(longPath).deviceModel().size(), 256);
    EXPECT_FALSE(APMSystemEnvironmentSource().systemVersion().isEmpty());
}

namespace experiment_environment_info_test {

class EngineEnvironmentInfoTest : public engine_test::EngineFixture {
protected:
    std::shared_ptr<fakes::FakeEnvironmentSource> facts_ = std::make_shared<fakes::FakeEnvironmentSource>();
    APMEnvironmentInfo info_ { facts_ };
};

} // namespace experiment_environment_info_test

TEST_F(EngineEnvironmentInfoTest, BundlesCarryTheDeviceFacts)
{
    facts_->model = QStringLiteral("Bench Machine 3");
    facts_->version = QStringLiteral("Debian 12");
    facts_->languages = { QStringLiteral("pt-BR") };
    facts_->offsetSeconds = -12600;
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
    facts_->languages.clear();
    advance(3600);
    logEvent(QStringLiteral("tock"));
    advance(3600);
    ASSERT_GE(server_.batches().size(), 2);
    const auto later = server_.batches().back().bundles;
    ASSERT_FALSE(later.isEmpty());
    for (const auto& bundle : later)
        EXPECT_TRUE(bundle.language.isNull());
}
