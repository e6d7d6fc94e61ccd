#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/base/APMValue.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"
#include "platform/SerialQueue.h"

#include <QDateTime>
#include <QSet>

#include <deque>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kVersion = 102700;

struct Line {
    int level;
    QString service;
    QString code;
    QString message;
};

// A monitor on virtual time with its own preferences files, utilities
// logger and launch arguments, so each test sees only its own switches.
class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vul_.setSink([this](int level, const QString& service, const QString& code, const QString& message) {
            lines_.push_back({ level, service, code, message });
        });
    }

    APMMonitor::Environment environment()
    {
        APMMonitor::Environment e;
        e.queue = &time_;
        e.clock = &time_;
        e.monitorUserDefaults = &monitorDefaults_;
        e.sharedUserDefaults = &sharedDefaults_;
        e.utilitiesLogger = &vul_;
        e.storeBuild = storeBuild_;
        e.launchArguments = arguments_;
        e.classExists = [this](const QString& name) { return classes_.contains(name); };
        e.randomBelow = [this](quint64 bound) {
            bounds_.push_back(bound);
            if (randoms_.empty())
                return quint64(1);
            const quint64 r = randoms_.front();
            randoms_.pop_front();
            return r;
        };
        return e;
    }

    std::unique_ptr<APMMonitor> makeMonitor()
    {
        return std::make_unique<APMMonitor>(kVersion, environment());
    }

    // Console lines written so far (they are written on the queue).
    const std::vector<Line>& flushedLines()
    {
        time_.runPending();
        return lines_;
    }

    // The sampled record as dispatch text, taken regardless of its age.
    static QString takeRecord(APMMonitor& monitor)
    {
        return monitor.monitoringDataForDispatchWithSamplePeriod(-1, 0);
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    platform::Preferences monitorPrefs_ { home_.path() + QStringLiteral("/monitor.plist") };
    platform::Preferences sharedPrefs_ { home_.path() + QStringLiteral("/shared.plist") };
    APMUserDefaults monitorDefaults_ { APMMonitor::kMonitorSuiteName, monitorPrefs_ };
    APMUserDefaults sharedDefaults_ { QString(), sharedPrefs_ };
    VULLogger vul_;
    std::vector<Line> lines_;
    std::deque<quint64> randoms_;
    std::vector<quint64> bounds_;
    QStringList arguments_;
    bool storeBuild_ = false;
    QSet<QString> classes_;
};

enum class Mode { Default, Debug, Verbose };

struct LevelCase {
    Mode mode;
    qint64 level;
    bool console;
    bool monitored;
};

class MonitorLevelTest : public MonitorTest, public ::testing::WithParamInterface<LevelCase> { };

std::vector<LevelCase> levelCases()
{
    // What each level becomes by default, in debug mode and with verbose logging.
    const bool C = true, M = true, n = false;
    return {
        { Mode::Default, 0, C, n },
        { Mode::Default, 1, C, M },
        { Mode::Default, 2, n, M },
        { Mode::Default, 3, C, n },
        { Mode::Default, 4, C, M },
        { Mode::Default, 5, n, M },
        { Mode::Default, 6, C, n },
        { Mode::Default, 7, n, n },
        { Mode::Default, 8, n, n },
        { Mode::Default, 9, n, n },
        { Mode::Debug, 0, C, n },
        { Mode::Debug, 2, n, M },
        { Mode::Debug, 6, C, n },
        { Mode::Debug, 7, C, n },
        { Mode::Debug, 8, n, n },
        { Mode::Debug, 9, n, n },
        { Mode::Verbose, 1, C, M },
        { Mode::Verbose, 5, n, M },
        { Mode::Verbose, 7, C, n },
        { Mode::Verbose, 8, C, n },
        { Mode::Verbose, 9, n, M },
    };
}

TEST_P(MonitorLevelTest, LevelDecidesConsoleAndRecord)
{
    const LevelCase c = GetParam();
    auto monitor = makeMonitor();
    if (c.mode == Mode::Debug)
        monitor->setDebugModeEnabled(true);
    if (c.mode == Mode::Verbose)
        monitor->setVerboseLoggingEnabled(true);
    flushedLines();
    lines_.clear();
    takeRecord(*monitor);

    monitor->logWithLevel(c.level, 18002, QStringLiteral("probe"), QStringLiteral("ctx"));

    const std::vector<Line>& lines = flushedLines();
    if (c.console) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].code, QStringLiteral("I-ACS018002"));
        EXPECT_EQ(lines[0].message, QStringLiteral("probe: ctx"));
        EXPECT_EQ(lines[0].service, QStringLiteral("<AppMetrics>"));
    } else {
        EXPECT_TRUE(lines.empty()) << qPrintable(lines[0].message);
    }
    const QString record = takeRecord(*monitor);
    if (c.monitored)
        EXPECT_EQ(record,
            QStringLiteral("1:")
                + APMMonitor::monitoringDataKeyWithMessage(QStringLiteral("probe"), c.level, kVersion)
                + QStringLiteral(":-"));
    else
        EXPECT_TRUE(record.isNull()) << qPrintable(record);
}

INSTANTIATE_TEST_SUITE_P(Matrix, MonitorLevelTest, ::testing::ValuesIn(levelCases()));

TEST(MonitorLevels, NamesSilenceAndMonitoring)
{
    const char* names[] = { "ERROR", "ERROR", "ERROR", "WARNING", "WARNING", "WARNING", "NOTICE", "DEBUG" };
    for (qint64 level = 0; level < 8; ++level)
        EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(level), QString::fromLatin1(names[level]));
    EXPECT_TRUE(APMMonitor::logLevelDescriptionFromLogLevel(8).isNull());
    EXPECT_TRUE(APMMonitor::logLevelDescriptionFromLogLevel(-1).isNull());

    const QSet<qint64> silent = { 2, 5, 9, 100 };
    const QSet<qint64> monitorable = { 1, 2, 4, 5, 9, 100 };
    for (qint64 level : { -1LL, 0LL, 1LL, 2LL, 3LL, 4LL, 5LL, 6LL, 7LL, 8LL, 9LL, 100LL }) {
        EXPECT_EQ(APMMonitor::isSilentLevel(level), silent.contains(level)) << level;
        EXPECT_EQ(APMMonitor::isMonitorableLevel(level), monitorable.contains(level)) << level;
    }
}

TEST(MonitorFormats, MessageCodesAndMonitoringKeys)
{
    EXPECT_EQ(APMMonitor::formattedMessageCode(43000), QStringLiteral("I-ACS043000"));
    EXPECT_EQ(APMMonitor::formattedMessageCode(800001), QStringLiteral("I-ACS800001"));
    EXPECT_EQ(APMMonitor::formattedMessageCode(7), QStringLiteral("I-ACS000007"));

    const QString m = QStringLiteral("M");
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage(m, 2, kVersion), QStringLiteral("1E_102700:M"));
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage(m, 0, kVersion), QStringLiteral("1E_102700:M"));
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage(m, 4, kVersion), QStringLiteral("1W_102700:M"));
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage(m, 6, kVersion), QStringLiteral("1?_102700:M"));
    EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage(m, 9, kVersion), QStringLiteral("1?_102700:M"));
}

struct EncodingCase {
    const char* name;
    QVariant context;
    const char* encoded;
};

TEST(MonitorFormats, ContextsEncodeWithoutOverflow)
{
    const qint64 max = std::numeric_limits<qint64>::max();
    const qint64 min = std::numeric_limits<qint64>::min();
    const std::vector<EncodingCase> cases = {
        { "nil", QVariant(), "" },
        { "null", QVariant::fromValue(nullptr), "" },
        { "string", QStringLiteral("secret"), "-" },
        { "42", 42, "42" },
        { "99", 99, "99" },
        { "-99", -99, "-99" },
        { "-5", -5, "-5" },
        { "100", 100, "100...999" },
        { "150", 150, "100...999" },
        { "99999", 99999, "10000...99999" },
        { "-100", -100, "-999...-100" },
        { "-150", -150, "-999...-100" },
        { "max", QVariant::fromValue(max), "1000000000000000000...9999999999999999999" },
        { "min", QVariant::fromValue(min), "-9999999999999999999...-1000000000000000000" },
        { "huge real", 1e30, "1000000000000000000...9999999999999999999" },
        { "-huge real", -1e30, "-9999999999999999999...-1000000000000000000" },
        { "nan", std::numeric_limits<double>::quiet_NaN(), "0" },
        { "real", 2.9, "2" },
        { "bool", true, "1" },
        { "unsigned max", QVariant::fromValue(std::numeric_limits<quint64>::max()),
            "1000000000000000000...9999999999999999999" },
        { "error", QVariant::fromValue(APMError(QStringLiteral("D"), 3)), "D" },
        { "error without domain", QVariant::fromValue(APMError()), "-" },
        { "list", QVariantList { 1 }, "?" },
        { "value", QVariant::fromValue(APMValue::initWithInt64(3)), "?" },
    };
    for (const EncodingCase& c : cases)
        EXPECT_EQ(APMMonitor::encodedStringWithContextObject(c.context), QString::fromLatin1(c.encoded))
            << c.name;

    const QVariantList contexts
        = { QVariant(), QStringLiteral("s"), QVariant::fromValue(APMError(QStringLiteral("D"), 1)) };
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, false), QStringLiteral(",-,D"));
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, true), QStringLiteral(", -, D"));
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray({}, true), QString());
}

TEST(MonitorFormats, ConsoleLines)
{
    const QVariantList contexts = { QVariant(), QStringLiteral("x"), 7, 1.5, true,
        QVariant::fromValue(APMError::apm_errorWithCode(2, QStringLiteral("bad"))),
        QVariant::fromValue(APMValue::initWithDouble(2.5)), QVariantList { 1, QStringLiteral("a") } };
    EXPECT_EQ(APMMonitor::stringWithLogMessage(QString(), {}, false), QStringLiteral("(Message was nil)"));
    EXPECT_EQ(APMMonitor::stringWithLogMessage(QStringLiteral(""), {}, false),
        QStringLiteral("(Message was empty)"));
    EXPECT_EQ(APMMonitor::stringWithLogMessage(QStringLiteral("m"), {}, true), QStringLiteral("m"));
    EXPECT_EQ(APMMonitor::stringWithLogMessage(QStringLiteral("m"), contexts, false),
        QStringLiteral("m: (nil), x, 7, 1.5, 1, Error Domain=com.vireo.vmp.measurement.ErrorDomain Code=2 "
                       "\"bad\", 2.5, (1, a)"));
    EXPECT_EQ(APMMonitor::stringWithLogMessage(QStringLiteral("m"), contexts, true),
        QStringLiteral("m: , -, 7, 1, 1, com.vireo.vmp.measurement.ErrorDomain, ?, ?"));
}

TEST_F(MonitorTest, SilentErrorIsCountedNotPrinted)
{
    auto monitor = makeMonitor();
    monitor->logWithLevel(2, 18002, QStringLiteral("Name is reserved"), QStringLiteral("va_x"));
    monitor->logWithLevel(2, 18002, QStringLiteral("Name is reserved"), QStringLiteral("va_y"));
    EXPECT_TRUE(flushedLines().empty());
    EXPECT_EQ(takeRecord(*monitor), QStringLiteral("2:1E_102700:Name is reserved:-"));

    // A nil context encodes as nothing, and still makes a record.
    monitor->logWithLevel(2, 18002, QStringLiteral("Nil"), QVariant());
    EXPECT_EQ(takeRecord(*monitor), QStringLiteral("1:1E_102700:Nil"));
}

TEST_F(MonitorTest, MeasurementErrorContextsJoinTheRecord)
{
    auto monitor = makeMonitor();
    const APMError ours = APMError::apm_errorWithCodeDescriptionMonitorContext(
        3, QStringLiteral("open"), QStringLiteral("db_open"));
    const APMError foreign(QStringLiteral("other"), 3, QStringLiteral("x"), QStringLiteral("ignored"));
    monitor->logWithLevel(
        1, 20000, QStringLiteral("Failed"), QVariant::fromValue(ours), QVariant::fromValue(foreign));
    EXPECT_EQ(takeRecord(*monitor),
        QStringLiteral("1:1E_102700:Failed:com.vireo.vmp.measurement.ErrorDomain,other,db_open"));
}

TEST_F(MonitorTest, SampledRecordIsAReservoirOfOneOnTheClock)
{
    auto monitor = makeMonitor();
    monitor->logWithLevel(1, 1, QStringLiteral("A"));
    time_.advance(10);
    randoms_ = { 0, 1 };
    monitor->logWithLevel(1, 1, QStringLiteral("B"), 150); // replaces A
    monitor->logWithLevel(1, 1, QStringLiteral("C")); // counted, B stays
    EXPECT_EQ(bounds_, (std::vector<quint64> { 2, 3 }));

    // Started at t0; the period is 60 s.
    EXPECT_TRUE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0).isNull());
    time_.advance(50); // exactly as old as the period
    EXPECT_TRUE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0).isNull());
    time_.advance(0.5);
    EXPECT_EQ(
        monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), QStringLiteral("3:1E_102700:B:100...999"));

    // The record is gone; an empty one is reported only once a period passed.
    const double now = time_.now();
    EXPECT_TRUE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0).isNull());
    EXPECT_TRUE(monitor->monitoringDataForDispatchWithSamplePeriod(60, now - 30).isNull());
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, now - 61), QStringLiteral("0:"));
}

TEST_F(MonitorTest, SampledRecordSurvivesARestart)
{
    {
        auto monitor = makeMonitor();
        monitor->logWithLevel(4, 2, QStringLiteral("W"), 5);
        monitor->logWithLevel(4, 2, QStringLiteral("W"), 5);
        time_.runPending(); // saving runs on the queue
    }
    EXPECT_EQ(monitorPrefs_.value(APMMonitor::kHealthMonitorKey).toList().size(), 4);
    platform::Preferences reread(monitorPrefs_.filePath());
    EXPECT_EQ(reread.value(APMMonitor::kHealthMonitorKey).toList().value(1).toLongLong(), 2);

    auto monitor = makeMonitor();
    EXPECT_EQ(takeRecord(*monitor), QStringLiteral("2:1W_102700:W:5"));
    // Dispatch saved the empty state at once.
    EXPECT_FALSE(monitorPrefs_.contains(APMMonitor::kHealthMonitorKey));
}

TEST_F(MonitorTest, RecordMovesOutOfTheApplicationDefaults)
{
    const QVariantList old = { QStringLiteral("-"), 4, QStringLiteral("1E_102700:old"),
        QDateTime::fromSecsSinceEpoch(1'600'000'000, Qt::UTC) };
    sharedPrefs_.setValue(APMMonitor::kHealthMonitorKey, old);
    auto monitor = makeMonitor();
    EXPECT_FALSE(sharedPrefs_.contains(APMMonitor::kHealthMonitorKey));
    EXPECT_EQ(monitorPrefs_.value(APMMonitor::kMigrationStateKey).toLongLong(), 2);
    EXPECT_EQ(takeRecord(*monitor), QStringLiteral("4:1E_102700:old:-"));

    // Once done, a record that shows up in the old place again stays there.
    sharedPrefs_.setValue(APMMonitor::kHealthMonitorKey, old);
    auto again = makeMonitor();
    EXPECT_TRUE(sharedPrefs_.contains(APMMonitor::kHealthMonitorKey));
    EXPECT_TRUE(takeRecord(*again).isNull());
}

TEST_F(MonitorTest, InvalidStoredRecordStartsEmpty)
{
    monitorPrefs_.setValue(APMMonitor::kMigrationStateKey, 2);
    monitorPrefs_.setValue(APMMonitor::kHealthMonitorKey,
        QVariantList {
            QStringLiteral("-"), QStringLiteral("4"), QStringLiteral("k"), QDateTime::currentDateTimeUtc() });
    auto monitor = makeMonitor();
    EXPECT_TRUE(takeRecord(*monitor).isNull());
    monitor->logWithLevel(1, 1, QStringLiteral("fresh"));
    EXPECT_EQ(takeRecord(*monitor), QStringLiteral("1:1E_102700:fresh"));
}

TEST_F(MonitorTest, ClearDropsRecordAndDebugFlag)
{
    auto monitor = makeMonitor();
    monitor->setDebugModeEnabled(true);
    monitor->logWithLevel(5, 1, QStringLiteral("x"));
    time_.runPending();
    EXPECT_TRUE(sharedPrefs_.contains(APMMonitor::kDebugModeKey));
    EXPECT_TRUE(monitorPrefs_.contains(APMMonitor::kHealthMonitorKey));

    monitor->clearMonitoringData();
    EXPECT_FALSE(sharedPrefs_.contains(APMMonitor::kDebugModeKey));
    EXPECT_FALSE(monitorPrefs_.contains(APMMonitor::kHealthMonitorKey));
    EXPECT_TRUE(takeRecord(*monitor).isNull());
}

TEST_F(MonitorTest, VerboseConfirmationIsPrintedWhenSwitchedOn)
{
    auto monitor = makeMonitor();
    monitor->setVerboseLoggingEnabled(true);
    const std::vector<Line>& lines = flushedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, QStringLiteral("I-ACS024003"));
    EXPECT_EQ(lines[0].message, QStringLiteral("Verbose logging is on"));
    EXPECT_EQ(monitor->logLevel(), 8);
    EXPECT_EQ(vul_.level(), VULLogger::Debug);
    EXPECT_TRUE(sharedPrefs_.boolValue(APMMonitor::kVerboseLoggingKey));

    lines_.clear();
    monitor->setVerboseLoggingEnabled(false);
    EXPECT_TRUE(flushedLines().empty());
    EXPECT_EQ(monitor->logLevel(), 6);
    EXPECT_FALSE(sharedPrefs_.contains(APMMonitor::kVerboseLoggingKey));
}

TEST_F(MonitorTest, DebugSwitchSetsLevelsAndPrintsOnlyTheOnMessage)
{
    auto monitor = makeMonitor();
    monitor->setDebugModeEnabled(true);
    monitor->setDebugModeEnabled(false);
    const std::vector<Line>& lines = flushedLines();
    ASSERT_EQ(lines.size(), 1u); // "off" is a debug line, written after the logger went back to notice
    EXPECT_EQ(lines[0].message, QStringLiteral("Debug mode is on"));
    EXPECT_EQ(monitor->logLevel(), 6);
    EXPECT_EQ(vul_.level(), VULLogger::Notice);
    EXPECT_FALSE(monitor->isDebugModeEnabled());
}

TEST_F(MonitorTest, LogTagGoesToTheConsole)
{
    auto monitor = makeMonitor();
    monitor->setLogTag(QStringLiteral("<Mine>"));
    monitor->logWithLevel(0, 1, QStringLiteral("a % b %@"));
    const std::vector<Line>& lines = flushedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].service, QStringLiteral("<Mine>"));
    EXPECT_EQ(lines[0].message, QStringLiteral("a % b %@")); // never used as a format
    EXPECT_EQ(lines[0].level, VULLogger::Error);
}

struct SwitchCase {
    const char* name;
    QStringList arguments;
    bool persistedDebug;
    bool persistedVerbose;
    bool storeBuild;
    bool basConfiguration;
    qint64 level;
    bool debug;
    bool verbose;
    int utilitiesLevel;
    bool defer;
};

TEST_F(MonitorTest, LaunchArgumentsAndPersistedFlags)
{
    const QString debugOn = QStringLiteral("-APMAnalyticsDebugEnabled");
    const QString verboseOn = QStringLiteral("-APMAnalyticsVerboseLoggingEnabled");
    const std::vector<SwitchCase> cases = {
        { "nothing", {}, false, false, false, false, 6, false, false, VULLogger::Notice, false },
        { "debug argument", { debugOn }, false, false, false, false, 7, true, false, VULLogger::Debug,
            false },
        { "BAS debug without BASConfiguration", { QStringLiteral("-BASDebugEnabled") }, false, false, false,
            false, 7, true, false, VULLogger::Debug, false },
        { "BAS debug with BASConfiguration", { QStringLiteral("-BASDebugEnabled") }, false, false, false,
            true, 7, true, false, VULLogger::Notice, true },
        { "persisted debug", {}, true, false, false, false, 7, true, false, VULLogger::Debug, false },
        { "disabled beats persisted", { QStringLiteral("-noAPMAnalyticsDebugEnabled") }, true, false, false,
            false, 6, false, false, VULLogger::Notice, false },
        { "BAS disabled beats enabled", { QStringLiteral("-BASDebugDisabled"), debugOn }, false, false, false,
            false, 6, false, false, VULLogger::Notice, false },
        { "verbose argument", { verboseOn }, false, false, false, false, 8, false, true, VULLogger::Debug,
            false },
        { "persisted verbose and debug", {}, true, true, false, false, 8, true, true, VULLogger::Debug,
            false },
        { "verbose disabled", { QStringLiteral("-BASAnalyticsVerboseLoggingDisabled") }, false, true, false,
            false, 6, false, false, VULLogger::Notice, false },
        { "store build ignores all", { debugOn, verboseOn }, true, true, true, false, 6, false, false,
            VULLogger::Notice, false },
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        sharedPrefs_.remove(APMMonitor::kDebugModeKey);
        sharedPrefs_.remove(APMMonitor::kVerboseLoggingKey);
        if (c.persistedDebug)
            sharedPrefs_.setValue(APMMonitor::kDebugModeKey, true);
        if (c.persistedVerbose)
            sharedPrefs_.setValue(APMMonitor::kVerboseLoggingKey, true);
        arguments_ = c.arguments;
        storeBuild_ = c.storeBuild;
        classes_.clear();
        if (c.basConfiguration)
            classes_.insert(QStringLiteral("BASConfiguration"));
        vul_.setLevel(VULLogger::Notice);

        auto monitor = makeMonitor();
        EXPECT_EQ(monitor->logLevel(), c.level);
        EXPECT_EQ(monitor->isDebugModeEnabled(), c.debug);
        EXPECT_EQ(monitor->isVerboseLoggingEnabled(), c.verbose);
        EXPECT_EQ(vul_.level(), c.utilitiesLevel);
        EXPECT_EQ(monitor->deferToBASLogger(), c.defer);
        if (!c.storeBuild) {
            EXPECT_EQ(sharedPrefs_.contains(APMMonitor::kDebugModeKey), c.debug);
        }
    }
}

TEST(MonitorThreads, ConcurrentLogsAndSwitchesLoseNothing)
{
    fakes::TempHome home;
    platform::Preferences monitorPrefs(home.path() + QStringLiteral("/m.plist"));
    platform::Preferences sharedPrefs(home.path() + QStringLiteral("/s.plist"));
    APMUserDefaults monitorDefaults(APMMonitor::kMonitorSuiteName, monitorPrefs);
    APMUserDefaults sharedDefaults(QString(), sharedPrefs);
    VULLogger vul;
    vul.setSink([](int, const QString&, const QString&, const QString&) {});
    platform::SerialQueue queue(QStringLiteral("APMMonitorQueue"));
    APMMonitor::Environment e;
    e.queue = &queue;
    e.clock = &platform::Clock::system();
    e.monitorUserDefaults = &monitorDefaults;
    e.sharedUserDefaults = &sharedDefaults;
    e.utilitiesLogger = &vul;
    e.randomBelow = [](quint64) { return quint64(1); };
    APMMonitor monitor(kVersion, e);

    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&monitor] {
            for (int i = 0; i < kPerThread; ++i)
                monitor.logWithLevel(4, 1, QStringLiteral("w"), i);
        });
    }
    threads.emplace_back([&monitor] {
        for (int i = 0; i < 50; ++i) {
            monitor.setDebugModeEnabled(i % 2 == 0);
            monitor.setLogTag(QStringLiteral("<T%1>").arg(i));
        }
    });
    for (std::thread& t : threads)
        t.join();
    const QString record = monitor.monitoringDataForDispatchWithSamplePeriod(-1, 0);
    EXPECT_TRUE(record.startsWith(QStringLiteral("2000:1W_102700:w:"))) << qPrintable(record);
    queue.sync([] {});
}

} // namespace
