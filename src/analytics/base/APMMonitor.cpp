#include "analytics/base/APMMonitor.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitoringSampledData.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "analytics/base/APMAEU.h"
#include "analytics/base/APMASLLogger.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMValue.h"
#include "platform/Clock.h"
#include "platform/ProcessExit.h"
#include "platform/SerialQueue.h"

#include <QDateTime>
#include <QLocale>
#include <QRandomGenerator>

#include <array>
#include <limits>

const QString APMMonitor::kDefaultLogTag = QStringLiteral("<AppMetrics>");
const QString APMMonitor::kMonitorSuiteName = QStringLiteral("com.vireo.vmp.measurement.monitor");
const QString APMMonitor::kHealthMonitorKey = QStringLiteral("/vireo/measurement/health_monitor");
const QString APMMonitor::kMigrationStateKey = QStringLiteral("/vireo/measurement/monitor_migration_state");
const QString APMMonitor::kDebugModeKey = QStringLiteral("/vireo/measurement/debug_mode");
const QString APMMonitor::kVerboseLoggingKey = QStringLiteral("/vireo/measurement/verbose_logging");

namespace {

const QString kMonitorQueueName = QStringLiteral("APMMonitorQueue");
const QString kNilMessage = QStringLiteral("(Message was nil)");
const QString kEmptyMessage = QStringLiteral("(Message was empty)");
const QString kNilContext = QStringLiteral("(nil)");
const QString kDebugOnMessage = QStringLiteral("Debug mode is on");
const QString kDebugOffMessage = QStringLiteral("Debug mode is off");
const QString kVerboseOnMessage = QStringLiteral("Verbose logging is on");
const QString kBASConfigurationClass = QStringLiteral("BASConfiguration");

const QString kArgBASDebugDisabled = QStringLiteral("-BASDebugDisabled");
const QString kArgBASDebugEnabled = QStringLiteral("-BASDebugEnabled");
const QStringList kDebugOffArguments = { QStringLiteral("-noAPMAnalyticsDebugEnabled"),
    QStringLiteral("-noBASAnalyticsDebugEnabled"), kArgBASDebugDisabled };
const QStringList kDebugOnArguments = { QStringLiteral("-APMAnalyticsDebugEnabled"),
    QStringLiteral("-BASAnalyticsDebugEnabled"), kArgBASDebugEnabled };
const QStringList kVerboseOffArguments = { QStringLiteral("-APMAnalyticsVerboseLoggingDisabled"),
    QStringLiteral("-BASAnalyticsVerboseLoggingDisabled") };
const QStringList kVerboseOnArguments = { QStringLiteral("-APMAnalyticsVerboseLoggingEnabled"),
    QStringLiteral("-BASAnalyticsVerboseLoggingEnabled") };

constexpr qint64 kMigrationNotStarted = 0;
constexpr qint64 kMigrationCopied = 1;
constexpr qint64 kMigrationDone = 2;

struct LaunchArguments {
    QMutex mutex;
    QStringList arguments;
};

LaunchArguments& launchArgumentsStore()
{
    static LaunchArguments* store = new LaunchArguments(); // lives as long as the process
    return *store;
}

bool containsAny(const QStringList& arguments, const QStringList& wanted)
{
    for (const QString& w : wanted) {
        if (arguments.contains(w))
            return true;
    }
    return false;
}

bool isNilContext(const QVariant& context)
{
    return !context.isValid() || context.metaType().id() == QMetaType::Nullptr;
}

bool isRealContext(const QVariant& value)
{
    const int type = value.metaType().id();
    return type == QMetaType::Double || type == QMetaType::Float;
}

QString describeList(const QVariantList& list)
{
    QStringList parts;
    for (const QVariant& element : list)
        parts << APMMonitor::describedContext(element);
    return QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
}

} // namespace

QString APMMonitor::describedContext(const QVariant& context)
{
    if (isNilContext(context))
        return kNilContext;
    const int type = context.metaType().id();
    if (type == QMetaType::QString)
        return context.toString();
    if (type == QMetaType::Bool)
        return context.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isRealContext(context))
        return QString::number(context.toDouble(), 'g', QLocale::FloatingPointShortest);
    if (APMConfigStore::isNumber(context))
        return context.toString();
    if (type == qMetaTypeId<APMError>())
        return context.value<APMError>().description();
    if (type == qMetaTypeId<APMValue>())
        return context.value<APMValue>().description();
    if (type == QMetaType::QVariantList || type == QMetaType::QStringList)
        return describeList(context.toList());
    if (type == QMetaType::QVariantMap) {
        const QVariantMap map = context.toMap();
        QString text = QStringLiteral("{");
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            text += it.key() + QStringLiteral(" = ") + describedContext(it.value()) + QStringLiteral("; ");
        return text + QLatin1Char('}');
    }
    if (type == QMetaType::QByteArray)
        return QLatin1Char('<') + QString::fromLatin1(context.toByteArray().toHex()) + QLatin1Char('>');
    if (type == QMetaType::QDateTime)
        return context.toDateTime().toUTC().toString(Qt::ISODate);
    if (context.canConvert<QString>())
        return context.toString();
    return QStringLiteral("<%1>").arg(QString::fromLatin1(context.metaType().name()));
}

namespace {

// The number as its order of magnitude, so that sampled records group
// messages by kind rather than by exact value.
QString encodedNumber(qint64 v)
{
    if (v >= -99 && v <= 99)
        return QString::number(v);
    // The magnitude in unsigned arithmetic: -INT64_MIN does not fit an int64.
    const quint64 magnitude = v < 0 ? static_cast<quint64>(-(v + 1)) + 1 : static_cast<quint64>(v);
    quint64 low = 1;
    while (magnitude / low >= 10)
        low *= 10;
    // low is at most 10^18, so 10 * low - 1 fits an unsigned 64-bit number.
    const quint64 high = low * 10 - 1;
    if (v > 0)
        return QStringLiteral("%1...%2").arg(low).arg(high);
    return QStringLiteral("-%1...-%2").arg(high).arg(low);
}

} // namespace

struct APMMonitor::Shared {
    QMutex mutex; // guards everything below
    std::unique_ptr<APMMonitoringSampledData> sampledData;
    bool savePending = false;
    std::shared_ptr<APMASLLogger> logger;
    APMUserDefaults* monitorDefaults = nullptr;
    APMUserDefaults* sharedDefaults = nullptr;
    platform::Clock* clock = nullptr;
    APMMonitoringSampledData::RandomBelow randomBelow;

    void saveLocked()
    {
        const QVariantList record = sampledData->sampledData();
        if (record.isEmpty())
            monitorDefaults->removeObjectForKey(kHealthMonitorKey);
        else
            monitorDefaults->setObject(record, kHealthMonitorKey);
        monitorDefaults->synchronize();
    }

    void loadLocked()
    {
        const std::optional<QVariantList> stored = monitorDefaults->arrayForKey(kHealthMonitorKey);
        sampledData = std::make_unique<APMMonitoringSampledData>(
            stored.value_or(QVariantList()), *clock, randomBelow);
    }

    // The sampled record used to live in the application's own defaults.
    void migrateLocked()
    {
        qint64 state = monitorDefaults->integerForKey(kMigrationStateKey);
        if (state == kMigrationNotStarted) {
            const std::optional<QVariantList> old = sharedDefaults->arrayForKey(kHealthMonitorKey);
            if (old && !monitorDefaults->arrayForKey(kHealthMonitorKey))
                monitorDefaults->setObject(*old, kHealthMonitorKey);
            monitorDefaults->setInteger(kMigrationCopied, kMigrationStateKey);
            monitorDefaults->synchronize();
            state = kMigrationCopied;
        }
        if (state == kMigrationCopied) {
            sharedDefaults->removeObjectForKey(kHealthMonitorKey);
            sharedDefaults->synchronize();
            monitorDefaults->setInteger(kMigrationDone, kMigrationStateKey);
            monitorDefaults->synchronize();
        }
    }
};

APMMonitor::Environment APMMonitor::defaultEnvironment()
{
    // Process-wide companions of the process-wide monitor.
    // The queue saves the health record; it is stopped (its last save
    // finished) before static destruction, which the save would race.
    static platform::SerialQueue* queue = [] {
        auto* created = new platform::SerialQueue(kMonitorQueueName);
        platform::ProcessExit::add([created] { created->stop(); });
        return created;
    }();
    static APMUserDefaults* monitorDefaults = new APMUserDefaults(kMonitorSuiteName);
    Environment environment;
    environment.queue = queue;
    environment.clock = &platform::Clock::system();
    environment.monitorUserDefaults = monitorDefaults;
    environment.sharedUserDefaults = &APMUserDefaults::sharedUserDefaults();
    environment.utilitiesLogger = &VULLogger::shared();
    environment.storeBuild = APMAEU::isFAS();
    environment.launchArguments = launchArguments();
    environment.classExists = &APMClassRegistry::classExists;
    environment.randomBelow = [](quint64 bound) -> quint64 {
        return bound == 0 ? 0 : QRandomGenerator::global()->bounded(bound);
    };
    return environment;
}

void APMMonitor::setLaunchArguments(const QStringList& arguments)
{
    LaunchArguments& store = launchArgumentsStore();
    QMutexLocker lock(&store.mutex);
    store.arguments = arguments;
}

QStringList APMMonitor::launchArguments()
{
    LaunchArguments& store = launchArgumentsStore();
    QMutexLocker lock(&store.mutex);
    return store.arguments;
}

APMMonitor::APMMonitor(qint64 libraryVersion, Environment environment)
    : APMMonitor(kLevelNotice, std::make_shared<APMASLLogger>(*environment.utilitiesLogger), libraryVersion,
        environment)
{
}

APMMonitor::APMMonitor(
    qint64 logLevel, std::shared_ptr<APMASLLogger> logger, qint64 libraryVersion, Environment environment)
    : logLevel_(logLevel)
    , libraryVersion_(libraryVersion)
    , logTag_(kDefaultLogTag)
    , environment_(std::move(environment))
    , shared_(std::make_shared<Shared>())
{
    shared_->logger = std::move(logger);
    shared_->monitorDefaults = environment_.monitorUserDefaults;
    shared_->sharedDefaults = environment_.sharedUserDefaults;
    shared_->clock = environment_.clock;
    shared_->randomBelow = environment_.randomBelow;
    {
        // Done before the first log call can record anything, so a record
        // is never overwritten by the one loaded from disk.
        QMutexLocker lock(&shared_->mutex);
        shared_->migrateLocked();
        shared_->loadLocked();
    }
    if (!environment_.storeBuild)
        applySwitchesFromLaunch();
}

APMMonitor::~APMMonitor() = default;

void APMMonitor::applySwitchesFromLaunch()
{
    const QStringList& arguments = environment_.launchArguments;
    const bool basSwitch
        = arguments.contains(kArgBASDebugDisabled) || arguments.contains(kArgBASDebugEnabled);
    deferToBASLogger_.store(
        basSwitch && environment_.classExists && environment_.classExists(kBASConfigurationClass));

    if (containsAny(arguments, kDebugOffArguments))
        setDebugModeEnabled(false);
    else if (environment_.sharedUserDefaults->boolForKey(kDebugModeKey)
        || containsAny(arguments, kDebugOnArguments))
        setDebugModeEnabled(true);

    if (containsAny(arguments, kVerboseOffArguments))
        setVerboseLoggingEnabled(false);
    else if (environment_.sharedUserDefaults->boolForKey(kVerboseLoggingKey)
        || containsAny(arguments, kVerboseOnArguments))
        setVerboseLoggingEnabled(true);
}

void APMMonitor::setDebugModeEnabled(bool enabled)
{
    const bool on = enabled && !environment_.storeBuild;
    if (on) {
        logLevel_.store(kLevelDebug);
        if (!deferToBASLogger_.load())
            environment_.utilitiesLogger->setLevel(VULLogger::Debug);
        environment_.sharedUserDefaults->setBool(true, kDebugModeKey);
        logWithLevel(kLevelDebug, 24000, kDebugOnMessage);
    } else {
        logLevel_.store(kLevelNotice);
        if (!deferToBASLogger_.load())
            environment_.utilitiesLogger->setLevel(VULLogger::Notice);
        environment_.sharedUserDefaults->removeObjectForKey(kDebugModeKey);
        logWithLevel(kLevelDebug, 24001, kDebugOffMessage);
    }
    debugModeEnabled_.store(on);
}

void APMMonitor::setVerboseLoggingEnabled(bool enabled)
{
    const bool on = enabled && !environment_.storeBuild;
    // The flag is set before the confirmation, which is a verbose-level line
    // and would otherwise be dropped the first time verbose logging is on.
    verboseLoggingEnabled_.store(on);
    if (on) {
        logLevel_.store(kLevelVerbose);
        if (!deferToBASLogger_.load())
            environment_.utilitiesLogger->setLevel(VULLogger::Debug);
        environment_.sharedUserDefaults->setBool(true, kVerboseLoggingKey);
        logWithLevel(kLevelVerbose, 24003, kVerboseOnMessage);
    } else {
        logLevel_.store(debugModeEnabled_.load() ? kLevelDebug : kLevelNotice);
        environment_.sharedUserDefaults->removeObjectForKey(kVerboseLoggingKey);
    }
}

QString APMMonitor::logTag() const
{
    QMutexLocker lock(&tagMutex_);
    return logTag_;
}

void APMMonitor::setLogTag(const QString& tag)
{
    QMutexLocker lock(&tagMutex_);
    logTag_ = tag;
}

void APMMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message)
{
    logWithLevelContexts(level, messageCode, message, {});
}

void APMMonitor::logWithLevel(
    qint64 level, qint64 messageCode, const QString& message, const QVariant& context)
{
    logWithLevelContexts(level, messageCode, message, { context });
}

void APMMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message,
    const QVariant& context1, const QVariant& context2)
{
    logWithLevelContexts(level, messageCode, message, { context1, context2 });
}

void APMMonitor::logWithLevel(qint64 level, qint64 messageCode, const QString& message,
    const QVariant& context1, const QVariant& context2, const QVariant& context3)
{
    logWithLevelContexts(level, messageCode, message, { context1, context2, context3 });
}

void APMMonitor::logWithLevelContexts(
    qint64 level, qint64 messageCode, const QString& message, const QVariantList& contexts)
{
    const bool loggable = isLoggableLevel(level);
    const bool monitorable = isMonitorableLevel(level);
    if (!loggable && !monitorable)
        return;
    if (level >= kLevelVerbose && !verboseLoggingEnabled_.load())
        return;

    if (loggable) {
        const QString line = stringWithLogMessage(message, contexts, encodeContexts_.load());
        if (!line.isNull())
            logToConsole(messageCode, line, level);
    }
    if (monitorable) {
        QString encoded = encodedStringWithContextArray(contexts, false);
        QStringList extra;
        for (const QVariant& context : contexts) {
            if (context.metaType().id() != qMetaTypeId<APMError>())
                continue;
            const APMError error = context.value<APMError>();
            if (error.domain() == APMError::kMeasurementErrorDomain && !error.monitorContext().isEmpty())
                extra << error.monitorContext();
        }
        if (!extra.isEmpty())
            encoded += QLatin1Char(',') + extra.join(QLatin1Char(','));
        insertOrUpdateMonitoringDataWithMessage(message, encoded, level);
    }
}

bool APMMonitor::isLoggableLevel(qint64 level) const
{
    return environment_.utilitiesLogger->isLoggableLevel(APMASLLogger::VULLoggerLevelFromLogLevel(level))
        && !isSilentLevel(level);
}

void APMMonitor::logToConsole(qint64 messageCode, const QString& message, qint64 level)
{
    std::weak_ptr<Shared> weak = shared_;
    environment_.queue->async([weak, tag = logTag(), messageCode, message, level] {
        if (const std::shared_ptr<Shared> shared = weak.lock())
            shared->logger->logMessage(message, tag, messageCode, level);
    });
}

void APMMonitor::insertOrUpdateMonitoringDataWithMessage(
    const QString& message, const QString& encodedContext, qint64 level)
{
    const QString key = monitoringDataKeyWithMessage(message, level, libraryVersion_);
    QMutexLocker lock(&shared_->mutex);
    shared_->sampledData->insertOrUpdateSampledDataWithKey(key, encodedContext);
    scheduleSave();
}

// Saving happens on the queue, once for a burst of records.
void APMMonitor::scheduleSave()
{
    if (shared_->savePending)
        return;
    shared_->savePending = true;
    std::weak_ptr<Shared> weak = shared_;
    environment_.queue->async([weak] {
        if (const std::shared_ptr<Shared> shared = weak.lock()) {
            QMutexLocker lock(&shared->mutex);
            shared->savePending = false;
            shared->saveLocked();
        }
    });
}

QString APMMonitor::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp)
{
    QMutexLocker lock(&shared_->mutex);
    const QString answer
        = shared_->sampledData->monitoringDataForDispatchWithSamplePeriod(samplePeriod, lastSampledTimestamp);
    if (!answer.isNull())
        shared_->saveLocked();
    return answer;
}

void APMMonitor::clearMonitoringData()
{
    QMutexLocker lock(&shared_->mutex);
    shared_->sharedDefaults->removeObjectForKey(kDebugModeKey);
    shared_->sharedDefaults->removeObjectForKey(kHealthMonitorKey);
    shared_->monitorDefaults->removeObjectForKey(kHealthMonitorKey);
    shared_->loadLocked();
}

QString APMMonitor::logLevelDescriptionFromLogLevel(qint64 level)
{
    static const std::array<QString, 8> kNames = {
        QStringLiteral("ERROR"),
        QStringLiteral("ERROR"),
        QStringLiteral("ERROR"),
        QStringLiteral("WARNING"),
        QStringLiteral("WARNING"),
        QStringLiteral("WARNING"),
        QStringLiteral("NOTICE"),
        QStringLiteral("DEBUG"),
    };
    if (level < 0 || level >= static_cast<qint64>(kNames.size()))
        return QString();
    return kNames[static_cast<size_t>(level)];
}

bool APMMonitor::isSilentLevel(qint64 level)
{
    return level == kLevelErrorSilent || level == kLevelWarningSilent || level > kLevelVerbose;
}

bool APMMonitor::isMonitorableLevel(qint64 level)
{
    return level == kLevelErrorMonitored || level == kLevelErrorSilent || level == kLevelWarningMonitored
        || level == kLevelWarningSilent || level > kLevelVerbose;
}

QString APMMonitor::encodedStringWithContextObject(const QVariant& context)
{
    if (isNilContext(context))
        return QStringLiteral("");
    const int type = context.metaType().id();
    if (type == QMetaType::QString)
        return QStringLiteral("-");
    if (APMConfigStore::isNumber(context))
        return encodedNumber(APMConfigStore::int64FromNumber(context));
    if (type == qMetaTypeId<APMError>()) {
        const QString domain = context.value<APMError>().domain();
        return domain.isEmpty() ? QStringLiteral("-") : domain;
    }
    return QStringLiteral("?");
}

QString APMMonitor::encodedStringWithContextArray(const QVariantList& contexts, bool insertSpaces)
{
    QStringList parts;
    for (const QVariant& context : contexts)
        parts << encodedStringWithContextObject(context);
    const QString joined = parts.join(insertSpaces ? QStringLiteral(", ") : QStringLiteral(","));
    // Empty, never null: a record is kept only with a (possibly empty) context.
    return joined.isNull() ? QStringLiteral("") : joined;
}

QString APMMonitor::stringWithLogMessage(
    const QString& message, const QVariantList& contexts, bool encodeContexts)
{
    const QString text = message.isNull() ? kNilMessage : message.isEmpty() ? kEmptyMessage : message;
    if (contexts.isEmpty())
        return text;
    if (encodeContexts)
        return text + QStringLiteral(": ") + encodedStringWithContextArray(contexts, true);
    QStringList parts;
    for (const QVariant& context : contexts)
        parts << describedContext(context);
    return text + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString APMMonitor::monitoringDataKeyWithMessage(const QString& message, qint64 level, qint64 libraryVersion)
{
    QChar letter = QLatin1Char('?');
    if (level >= 0 && level <= kLevelErrorSilent)
        letter = QLatin1Char('E');
    else if (level >= kLevelWarning && level <= kLevelWarningSilent)
        letter = QLatin1Char('W');
    return QStringLiteral("1") + letter + QLatin1Char('_') + QString::number(libraryVersion)
        + QLatin1Char(':') + message;
}

QString APMMonitor::formattedMessageCode(qint64 messageCode)
{
    return QString::asprintf("I-ACS%06lld", static_cast<long long>(messageCode));
}
