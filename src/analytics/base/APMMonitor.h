#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>

namespace platform {
class Clock;
class Executor;
} // namespace platform

class APMASLLogger;
class APMUserDefaults;
class VULLogger;

// The analytics library's levelled logger and health monitor. Every report
// carries a level (0 to 8, see below) and a message code; codes come in
// blocks of a thousand per component and print as "I-ACS%06ld". Depending on
// the level a report becomes a console line, a sampled health record that is
// later attached to an upload bundle, or both.
//
//   level  name       console                 monitored
//   0      "ERROR"    yes                     no
//   1      "ERROR"    yes                     yes
//   2      "ERROR"    no                      yes
//   3      "WARNING"  yes                     no
//   4      "WARNING"  yes                     yes
//   5      "WARNING"  no                      yes
//   6      "NOTICE"   yes                     no
//   7      "DEBUG"    yes (debug mode)        no
//   8      -          only with verbose       no
//   >8     -          no                      only with verbose
//
// Whether a console line prints is decided by the utilities logger's level,
// which the debug and verbose switches set. Contexts are QVariants: an
// invalid QVariant stands for nil; strings, numbers, APMError and APMValue
// are understood, anything else is shown by its text or type name.
//
// Log calls may come from any thread. Console output and saving of the
// sampled record run in order on the monitor's serial executor; the level,
// flags and tag are safe to read and write from any thread.
class APMMonitor {
public:
    static constexpr qint64 kLevelError = 0;
    static constexpr qint64 kLevelErrorMonitored = 1;
    static constexpr qint64 kLevelErrorSilent = 2;
    static constexpr qint64 kLevelWarning = 3;
    static constexpr qint64 kLevelWarningMonitored = 4;
    static constexpr qint64 kLevelWarningSilent = 5;
    static constexpr qint64 kLevelNotice = 6;
    static constexpr qint64 kLevelDebug = 7;
    static constexpr qint64 kLevelVerbose = 8;

    static const QString kDefaultLogTag; // "<AppMetrics>"
    static const QString kMonitorSuiteName; // "com.vireo.vmp.measurement.monitor"
    static const QString kHealthMonitorKey; // "/vireo/measurement/health_monitor"
    static const QString kMigrationStateKey; // "/vireo/measurement/monitor_migration_state"
    static const QString kDebugModeKey; // "/vireo/measurement/debug_mode"
    static const QString kVerboseLoggingKey; // "/vireo/measurement/verbose_logging"

    // What the monitor works with. Everything pointed to must outlive it.
    struct Environment {
        platform::Executor* queue = nullptr; // serial: console lines and saving
        platform::Clock* clock = nullptr; // timestamps of sampled records
        APMUserDefaults* monitorUserDefaults = nullptr; // suite kMonitorSuiteName
        APMUserDefaults* sharedUserDefaults = nullptr; // the application's own defaults
        VULLogger* utilitiesLogger = nullptr; // whose level the switches set
        bool storeBuild = false; // a store build ignores the switches
        QStringList launchArguments;
        std::function<bool(const QString&)> classExists;
        std::function<quint64(quint64)> randomBelow; // uniform in [0, bound)
    };
    // The process's own: queue "APMMonitorQueue", the system clock, the
    // preferences suites, the shared utilities logger, the launch arguments
    // given to setLaunchArguments() and the class registry.
    static Environment defaultEnvironment();

    // Launch arguments are captured once in main(); the switches read them.
    static void setLaunchArguments(const QStringList& arguments);
    static QStringList launchArguments();

    // Level 6 with a sink over environment.utilitiesLogger.
    explicit APMMonitor(qint64 libraryVersion, Environment environment = defaultEnvironment());
    APMMonitor(qint64 logLevel, std::shared_ptr<APMASLLogger> logger, qint64 libraryVersion,
        Environment environment);
    ~APMMonitor();

    APMMonitor(const APMMonitor&) = delete;
    APMMonitor& operator=(const APMMonitor&) = delete;

    qint64 logLevel() const { return logLevel_.load(); }
    void setLogLevel(qint64 level) { logLevel_.store(level); }
    qint64 libraryVersion() const { return libraryVersion_; }
    bool deferToBASLogger() const { return deferToBASLogger_; }

    // Debug mode: level 7, utilities logger at 7, persisted; off: level 6,
    // utilities logger at 5. A store build always takes the "off" road.
    void setDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const { return debugModeEnabled_.load(); }
    // Verbose logging: level 8, utilities logger at 7, persisted; prints
    // "Verbose logging is on". Off: level 7 or 6 by debug mode.
    void setVerboseLoggingEnabled(bool enabled);
    bool isVerboseLoggingEnabled() const { return verboseLoggingEnabled_.load(); }
    bool encodeContexts() const { return encodeContexts_.load(); }
    void setEncodeContexts(bool encode) { encodeContexts_.store(encode); }
    QString logTag() const;
    void setLogTag(const QString& tag);

    // A null message prints as "(Message was nil)", an empty one as
    // "(Message was empty)". An invalid QVariant context stands for nil.
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
        const QVariant& context2);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
        const QVariant& context2, const QVariant& context3);
    void logWithLevelContexts(
        qint64 level, qint64 messageCode, const QString& message, const QVariantList& contexts);

    // Whether a report of this level would print now.
    bool isLoggableLevel(qint64 level) const;

    // The sampled record as text for the next upload bundle, or a null
    // QString when there is nothing to send yet. Must not be called from a
    // task of the monitor's queue.
    QString monitoringDataForDispatchWithSamplePeriod(double samplePeriod, double lastSampledTimestamp);
    // Drops the sampled record and the persisted debug flag.
    void clearMonitoringData();

    // Null QString for levels without a name (8 and above, negative).
    static QString logLevelDescriptionFromLogLevel(qint64 level);
    static bool isSilentLevel(qint64 level);
    static bool isMonitorableLevel(qint64 level);
    // nil -> "", string -> "-", number -> itself up to |99| else its decade
    // ("100...999", "-999...-100"), error -> its domain or "-", else "?".
    static QString encodedStringWithContextObject(const QVariant& context);
    static QString encodedStringWithContextArray(const QVariantList& contexts, bool insertSpaces);
    // The console line: the message, then ": " and the contexts, described
    // (nil as "(nil)") or, with encodeContexts, encoded; joined by ", ".
    static QString stringWithLogMessage(
        const QString& message, const QVariantList& contexts, bool encodeContexts);
    // A context as the console shows it: nil as "(nil)", strings as they
    // are, numbers as "42" or "1.5", errors and values by their description,
    // lists as "(a, b)", anything else by its text or type name.
    static QString describedContext(const QVariant& context);
    // "1<E|W|?>_<version>:<message>"
    static QString monitoringDataKeyWithMessage(const QString& message, qint64 level, qint64 libraryVersion);
    // "I-ACS" and the code padded to six digits.
    static QString formattedMessageCode(qint64 messageCode);

private:
    struct Shared;

    void applySwitchesFromLaunch();
    void logToConsole(qint64 messageCode, const QString& message, qint64 level);
    void insertOrUpdateMonitoringDataWithMessage(
        const QString& message, const QString& encodedContext, qint64 level);
    void scheduleSave();

    std::atomic<qint64> logLevel_;
    const qint64 libraryVersion_;
    std::atomic<bool> deferToBASLogger_ { false };
    std::atomic<bool> debugModeEnabled_ { false };
    std::atomic<bool> verboseLoggingEnabled_ { false };
    std::atomic<bool> encodeContexts_ { false };
    mutable QMutex tagMutex_;
    QString logTag_;
    Environment environment_;
    std::shared_ptr<Shared> shared_; // what queued tasks may still touch
};
