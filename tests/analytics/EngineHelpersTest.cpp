#include "analytics/base/APMMonitor.h"
#include "analytics/base/VULLogger.h"
#include "analytics/base/APMAEU.h"
#include "analytics/base/APMASLLogger.h"
#include "analytics/base/APMBackwardCompatibilityUtil.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/engine/APMBundleFields.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "fakes/ScopedEnv.h"

#include <QtEndian>

#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(EngineHelpers, MD5OfTextMatchesTheRfcVectors)
{
    // RFC 1321, appendix A.5.
    const std::vector<std::pair<const char*, const char*>> vectors = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "a", "0cc175b9c0f1b6a831c399e269772661" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
    };
    for (const auto& [text, digest] : vectors)
        EXPECT_EQ(apm_MD5String(QString::fromLatin1(text)), QString::fromLatin1(digest)) << text;
    EXPECT_TRUE(apm_MD5String(QString(QChar(0xD800))).isNull()); // no UTF-8 form
}

TEST(EngineHelpers, LowEightBytesOfMD5AsBigEndianInteger)
{
    // MD5("abc") ends in d6 96 3f 7d 28 e1 7f 72.
    EXPECT_EQ(apm_64LSBMD5(QByteArray("abc")), static_cast<qint64>(0xd6963f7d28e17f72ULL));
    // MD5("") ends in e9 80 09 98 ec f8 42 7e.
    EXPECT_EQ(apm_64LSBMD5(QByteArray()), static_cast<qint64>(0xe9800998ecf8427eULL));
}

TEST(EngineHelpers, QueryStringKeepsPairsApart)
{
    EXPECT_EQ(apm_queryString({}), QString());
    const QVariantMap parameters = {
        { QStringLiteral("app_version"), QStringLiteral("1.2.3") },
        { QStringLiteral("count"), 7 },
        { QStringLiteral("ratio"), 1.5 },
        { QStringLiteral("tricky"), QStringLiteral("a&b=c+d#e f/é") },
    };
    EXPECT_EQ(apm_queryString(parameters),
        QStringLiteral("app_version=1.2.3&count=7&ratio=1.5&tricky=a%26b%3Dc%2Bd%23e%20f/%C3%A9"));
}

TEST(EngineHelpers, BitsOfAText)
{
    const QString bits = QStringLiteral("0110");
    const std::vector<std::pair<qint64, bool>> cases = {
        { -1, false },
        { 0, false },
        { 1, true },
        { 2, true },
        { 3, false },
        { 4, false },
        { std::numeric_limits<qint64>::max(), false },
        { std::numeric_limits<qint64>::min(), false },
    };
    for (const auto& [index, enabled] : cases)
        EXPECT_EQ(isBitEnabledAtIndex(bits, index), enabled) << index;
    EXPECT_FALSE(isBitEnabledAtIndex(QString(), 0));
}

TEST(EngineHelpers, SinkLevelsAndLines)
{
    const int expected[] = { 3, 3, 3, 4, 4, 4, 5, 7, 7 };
    for (qint64 level = 0; level <= 8; ++level)
        EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(level), expected[level]) << level;
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(9), 4);
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(-1), 4);

    VULLogger vul;
    std::vector<QString> lines;
    vul.setSink([&](int level, const QString& service, const QString& code, const QString& message) {
        lines.push_back(QStringLiteral("%1 %2 %3 %4").arg(level).arg(service, code, message));
    });
    APMASLLogger sink(vul);
    sink.logMessage(QStringLiteral("100% done"), QStringLiteral("<T>"), 24000, 6);
    sink.logMessage(QStringLiteral("debug line"), QStringLiteral("<T>"), 1, 7); // written whatever the level
    sink.logMessage(QStringLiteral("verbose line"), QStringLiteral("<T>"), 2, 8); // not written at notice
    EXPECT_EQ(lines,
        (std::vector<QString> {
            QStringLiteral("5 <T> I-ACS024000 100% done"), QStringLiteral("7 <T> I-ACS000001 debug line") }));
}

TEST(EngineHelpers, StoreBuildAndClassRegistry)
{
    EXPECT_FALSE(APMAEU::isFAS());
    EXPECT_FALSE(APMClassRegistry::classExists(QStringLiteral("BASConfiguration")));
    APMClassRegistry::registerClassName(QStringLiteral("EngineHelpersProbe"));
    EXPECT_TRUE(APMClassRegistry::classExists(QStringLiteral("EngineHelpersProbe")));
    APMClassRegistry::unregisterClassName(QStringLiteral("EngineHelpersProbe"));
    EXPECT_FALSE(APMClassRegistry::classExists(QStringLiteral("EngineHelpersProbe")));
}

TEST(EngineHelpers, BackgroundCheckComplainsOnTheMainThread)
{
    APMMonitor& monitor = APMMeasurement::monitor();
    monitor.monitoringDataForDispatchWithSamplePeriod(-1e9, 0);
    EXPECT_FALSE(
        APMScheduler::checkOnBackgroundThreadWithMethodName(QString())); // tests run on the main thread
    EXPECT_EQ(monitor.monitoringDataForDispatchWithSamplePeriod(-1e9, 0),
        QStringLiteral("1:1E_102700:Method <empty method name> should execute on background thread"));

    bool offMain = false;
    std::thread([&] {
        offMain = APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("m"));
    }).join();
    EXPECT_TRUE(offMain);
    EXPECT_EQ(&APMMeasurement::monitor(), &monitor);
    EXPECT_EQ(monitor.libraryVersion(), APMMeasurement::kAppMetricsLibraryVersion);
}

} // namespace

TEST(EngineHelpers, TheReceiptCheckSwitchAndExtensionBundles)
{
    fakes::ScopedEnv receipt(APMAEU::kReceiptPathVariable, QStringLiteral("/tmp/store/sandboxReceipt"));
    struct Case {
        const char* what;
        QVariantMap info;
        bool found;
    };
    const Case cases[] = {
        { "no switch", {}, true },
        { "switched on", { { QLatin1String(APMAEU::kReceiptURLCheckEnabledKey), true } }, true },
        { "switched off", { { QLatin1String(APMAEU::kReceiptURLCheckEnabledKey), false } }, false },
        { "switched off as the number 0", { { QLatin1String(APMAEU::kReceiptURLCheckEnabledKey), 0 } }, false },
        { "a text is no switch", { { QLatin1String(APMAEU::kReceiptURLCheckEnabledKey), QStringLiteral("NO") } }, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(APMAEU::appStoreRURL(c.info).isEmpty(), !c.found);
        EXPECT_EQ(APMAEU::isASRS(c.info), c.found);
    }
    EXPECT_TRUE(APMAEU::isAEX(QStringLiteral("/opt/host/Plugins/Share.appex")));
    EXPECT_FALSE(APMAEU::isAEX(QStringLiteral("/opt/host/bin")));
    EXPECT_FALSE(APMAEU::isAEX());
}

namespace engine_helpers_test {

class OlderMeasurementProbe final : public APMBackwardCompatibilityUtil::OlderMeasurement {
public:
    void setIsEnabled(bool enabled) override { calls.push_back(enabled); }
    std::vector<bool> calls;
};

} // namespace engine_helpers_test

TEST(EngineHelpers, AnOlderMeasurementLibraryIsSwitchedOffOnlyWhenPresent)
{
    using engine_helpers_test::OlderMeasurementProbe;
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVMRMeasurement());
    auto older = std::make_shared<OlderMeasurementProbe>();
    APMBackwardCompatibilityUtil::registerOlderMeasurement(older);
    EXPECT_TRUE(APMClassRegistry::classExists(QStringLiteral("VMRMeasurement")));
    EXPECT_TRUE(APMBackwardCompatibilityUtil::disableVMRMeasurement());
    EXPECT_EQ(older->calls, std::vector<bool> { false });
    APMBackwardCompatibilityUtil::registerOlderMeasurement(nullptr);
    EXPECT_FALSE(APMClassRegistry::classExists(QStringLiteral("VMRMeasurement")));
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVMRMeasurement());
    EXPECT_EQ(older->calls.size(), 1u);
}

TEST(EngineHelpers, ClassMethodsBelongToTheirRegisteredClass)
{
    int calls = 0;
    APMClassRegistry::registerClassMethod(QStringLiteral("EngineHelpersTool"), QStringLiteral("start"), [&] { ++calls; });
    EXPECT_FALSE(APMClassRegistry::classMethod(QStringLiteral("EngineHelpersTool"), QStringLiteral("start")));
    APMClassRegistry::registerClassName(QStringLiteral("EngineHelpersTool"));
    const auto start = APMClassRegistry::classMethod(QStringLiteral("EngineHelpersTool"), QStringLiteral("start"));
    ASSERT_TRUE(start);
    start();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(APMClassRegistry::classMethod(QStringLiteral("EngineHelpersTool"), QStringLiteral("stop")));
    APMClassRegistry::unregisterClassName(QStringLiteral("EngineHelpersTool"));
    EXPECT_FALSE(APMClassRegistry::classMethod(QStringLiteral("EngineHelpersTool"), QStringLiteral("start")));
}

// Only the internal first-open name counts, wherever it is among the events.
TEST(EngineHelpers, ABundleContainsAFirstOpenWhenOneOfItsEventsIsNamedSo)
{
    const struct {
        const char* label;
        QStringList names; // a null name: the event has none
        bool contains;
    } rows[] = {
        { "no events", {}, false },
        { "first open last", { QStringLiteral("_e"), QStringLiteral("_f") }, true },
        { "first open first", { QStringLiteral("_f"), QString() }, true },
        { "its public name", { QStringLiteral("first_open") }, false },
        { "no name", { QString() }, false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
        std::vector<std::unique_ptr<APMPBEvent>> events;
        for (const QString& name : row.names) {
            events.push_back(APMPBEvent::initWithMessageInfo());
            APMPBSetStringField(events.back().get(), APMEventSlot::kName, name);
        }
        APMPBSetArrayField(bundle.get(), APMBundleSlot::kEvents, std::move(events));
        EXPECT_EQ(APMBundleContainsFirstOpenEvent(*bundle), row.contains);
    }
}
