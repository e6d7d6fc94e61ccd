// The experiment classes' logging front: it hands every report unchanged to
// the analytics monitor it wraps, and the manager and clients report their
// refusals through it.

#include "TestMonitorHarness.h"
#include "ValidatorLogRecorder.h"
#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace experiment_monitor_test {

struct MonitorLine {
    QString code;
    QString message;
};

// The front over a monitor of the test's own, whose console lines and
// sampled record the test reads.
class ExperimentMonitorTest : public ::testing::Test {
protected:
    std::vector<MonitorLine> takeLines()
    {
        harness_.flush();
        return std::exchange(lines_, {});
    }
    QString takeRecord() { return harness_.takeRecord(); }

    std::vector<MonitorLine> lines_;
    test_monitor::TestMonitorHarness harness_ { [this](int, const QString&, const QString& code,
                                                    const QString& message) { lines_.push_back({ code, message }); } };
    APMMonitor* monitor_ = harness_.monitor.get();
    std::unique_ptr<APMEMonitor> front_ = std::make_unique<APMEMonitor>(*monitor_);
};

} // namespace experiment_monitor_test

using namespace experiment_monitor_test;

TEST_F(ExperimentMonitorTest, EveryVariantReachesTheMonitorUnchanged)
{
    struct Case {
        std::function<void(APMEMonitor&)> log;
        QString code;
        QString message;
    };
    const QString m = QStringLiteral("Experiment report");
    const Case cases[] = {
        { [&](APMEMonitor& f) { f.logWithLevel(APMMonitor::kLevelError, 800100, m); }, QStringLiteral("I-ACS800100"),
            m },
        { [&](APMEMonitor& f) { f.logWithLevel(APMMonitor::kLevelWarning, 800101, m, QStringLiteral("sdk")); },
            QStringLiteral("I-ACS800101"), m + QStringLiteral(": sdk") },
        { [&](APMEMonitor& f) { f.logWithLevel(APMMonitor::kLevelNotice, 800102, m, QStringLiteral("sdk"), 7); },
            QStringLiteral("I-ACS800102"), m + QStringLiteral(": sdk, 7") },
        { [&](APMEMonitor& f) {
             f.logWithLevel(APMMonitor::kLevelErrorMonitored, 800103, m, QStringLiteral("sdk"), QVariant(), 2.5);
         },
            QStringLiteral("I-ACS800103"), m + QStringLiteral(": sdk, (nil), 2.5") },
    };
    for (const Case& c : cases) {
        c.log(*front_);
        const auto lines = takeLines();
        ASSERT_EQ(lines.size(), 1u) << c.code.toStdString();
        EXPECT_EQ(lines[0].code, c.code);
        EXPECT_EQ(lines[0].message, c.message);
    }
}

TEST_F(ExperimentMonitorTest, SilentReportsAreSampledAndClearedThroughTheFront)
{
    front_->logWithLevel(APMMonitor::kLevelErrorSilent, 800104, QStringLiteral("Quiet experiment report"),
        QStringLiteral("sdk"));
    EXPECT_TRUE(takeLines().empty());
    EXPECT_TRUE(takeRecord().contains(QStringLiteral("Quiet experiment report")));

    front_->logWithLevel(APMMonitor::kLevelErrorSilent, 800104, QStringLiteral("Quiet experiment report"));
    front_->clearMonitoringData();
    EXPECT_TRUE(takeRecord().isNull());
    EXPECT_EQ(&front_->monitor(), monitor_);
}

// The manager's and the client's refusals, as the process-wide monitor
// prints them.
TEST(ExperimentMonitorLines, RefusalsAreReportedWithTheirLevelAndCode)
{
    ValidatorLogRecorder log;
    fakes::VirtualTime time;
    auto manager = std::make_shared<APMEManager>(time, &time);
    const auto client = manager->registerSDKProperty(
        std::make_shared<APMESDKProperty>(QStringLiteral("sdk")), { { QStringLiteral("f"), 1 } });
    ASSERT_TRUE(client);
    manager->dispatchSyncOnSerialQueue([] {});
    struct Case {
        const char* what;
        std::function<void()> call;
        qint64 level;
        qint64 code;
    };
    APMError error;
    const Case cases[] = {
        { "nil property", [&] { manager->registerSDKProperty(nullptr, {}); }, APMMonitor::kLevelError, 800000 },
        { "unnamed property",
            [&] { manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QString()), {}); },
            APMMonitor::kLevelError, 800001 },
        { "flag of no kind",
            [&] {
                manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("x")),
                    { { QStringLiteral("f"), QVariantList { 1 } } });
            },
            APMMonitor::kLevelError, 800002 },
        { "registered twice",
            [&] {
                manager->registerSDKProperty(std::make_shared<APMESDKProperty>(QStringLiteral("sdk")), {});
                manager->dispatchSyncOnSerialQueue([] {});
            },
            APMMonitor::kLevelWarning, 800003 },
        { "client of no name", [&] { manager->clientForSDKName(QString()); }, APMMonitor::kLevelError, 800007 },
        { "flag of an empty SDK name", [&] { manager->flagValueForFlagName(QStringLiteral("f"), QString()); },
            APMMonitor::kLevelError, 800010 },
        { "unregistered SDK", [&] { manager->flagValueForFlagName(QStringLiteral("f"), QStringLiteral("none")); },
            APMMonitor::kLevelWarning, 800012 },
        { "nothing fetched", [&] { manager->taskManagerDidFinishFetchingExperimentSnapshotsWithErrors({}, {}); },
            APMMonitor::kLevelWarning, 800020 },
        { "activation of an empty name", [&] { manager->activateSnapshotOfSDK(QString(), &error); },
            APMMonitor::kLevelWarning, 800022 },
        { "nothing pending", [&] { manager->activateSnapshotOfSDK(QStringLiteral("sdk"), &error); },
            APMMonitor::kLevelWarning, 800023 },
        { "status of an empty name", [&] { manager->activatedSnapshotStatusOfSDKName(QString()); },
            APMMonitor::kLevelError, 800024 },
        { "reset of an empty name", [&] { manager->resetToDefaultsOfSDKName(QString()); }, APMMonitor::kLevelError,
            800025 },
        { "reset with nothing activated", [&] { manager->resetToDefaultsOfSDKName(QStringLiteral("sdk")); },
            APMMonitor::kLevelError, 800026 },
        { "notice for a client without observer",
            [&] { manager->taskManagerDidUpsertPendingSnapshots({ APMESnapshot(QStringLiteral("sdk")) }); },
            APMMonitor::kLevelError, 800021 },
        { "empty flag name", [&] { client->valueForFlag(QString()); }, APMMonitor::kLevelError, 830002 },
        { "key that is not a text", [&] { client->objectForKeyedSubscript(QVariant(3)); }, APMMonitor::kLevelError,
            830003 },
    };
    for (const Case& c : cases) {
        log.clear();
        c.call();
        EXPECT_TRUE(log.hasOnly(c.level, c.code)) << c.what;
    }
}
