#pragma once

#include "analytics/base/APMError.h"
#include "analytics/model/APMDailyCounts.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMSqliteStore.h"
#include "platform/Clock.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class APMAppMetadata;
class APMConditionalUserProperty;
class APMEvent;
class APMEventAggregates;
class APMEventFilter;
class APMFilterResult;
class APMPBEventParam;
class APMPBMeasurementBundle;
class APMPBMeasurementConfig;
class APMPersistedConfig;
class APMPropertyFilter;
class APMRawEventData;
class APMValue;

// One queued bundle read back from the upload queue, with its row number.
struct APMQueuedBundle {
    std::unique_ptr<APMPBMeasurementBundle> bundle;
    qint64 rowID = 0;
};

// The measurement engine's persistent store: one SQLite file under the
// library's Application Support folder holding the app metadata row, raw
// events and their metadata, event aggregates, user properties, the upload
// queue, audience filters and results, purchase and subscription
// fingerprints, conditional user properties and the parameters of complex
// events.
//
// Table operations open no transactions of their own (except when the app
// metadata row is first made); callers group them with performTransaction.
// Used from the measurement worker queue only; not locked.
//
// The table operations are grouped by table in their own source files:
// APMDatabase.cpp (life cycle, generic row operations, value conversions),
// APMDatabaseMetadata.cpp, APMDatabaseRawEvents.cpp, APMDatabaseQueue.cpp,
// APMDatabaseAggregates.cpp, APMDatabaseFilters.cpp and
// APMDatabaseProperties.cpp.
class APMDatabase {
public:
    static const QString kDatabaseName; // "vireo-app-metrics.sql"

    // Table names.
    static const QString kAppMetadataTable; // "app_metadata"
    static const QString kRawEventsMetadataTable; // "raw_events_metadata"
    static const QString kRawEventsTable; // "raw_events"
    static const QString kEventsTable; // "events"
    static const QString kEventsSnapshotTable; // "events_snapshot"
    static const QString kUserAttributesTable; // "user_attributes"
    static const QString kQueueTable; // "queue"
    static const QString kEventFiltersTable; // "event_filters"
    static const QString kPropertyFiltersTable; // "property_filters"
    static const QString kAudienceFilterValuesTable; // "audience_filter_values"
    static const QString kPurchaseTransactionsTable; // "purchase_transactions"
    static const QString kSubscriptionsTable; // "subscriptions"
    static const QString kConditionalPropertiesTable; // "conditional_properties"
    static const QString kMainEventParamsTable; // "main_event_params"

    // The database file of that name in the library's folder (under the
    // Application Support root, which AppPaths and PRAVIK_HOME decide).
    static std::unique_ptr<APMDatabase> initWithDatabaseName(
        const QString& name, APMPersistedConfig* persistedConfig, APMError* error);
    // The same at an explicit path (tests, tools).
    static std::unique_ptr<APMDatabase> initWithDatabasePath(
        const QString& path, APMPersistedConfig* persistedConfig, APMError* error);
    ~APMDatabase();

    APMDatabase(const APMDatabase&) = delete;
    APMDatabase& operator=(const APMDatabase&) = delete;

    // After a reset that could not open a new store, the old one, closed:
    // every operation then fails with "Database not open".
    APMSqliteStore* sqliteStore() const { return sqliteStore_.get(); }
    // The store when it is open; otherwise nothing, with the error "Database
    // not open" (code 2). Every table operation starts here.
    APMSqliteStore* openStore(APMError* error) const;
    APMPersistedConfig* persistedConfig() const { return persistedConfig_; }
    // The wall clock behind "now" in the time-based queries and stamps: the
    // system clock unless one is set (tests set a virtual one).
    platform::Clock& clock() const { return clock_ ? *clock_ : platform::Clock::system(); }
    void setClock(platform::Clock* clock) { clock_ = clock; }

    // Deletes the file and builds a fresh database at the same path.
    bool reset(APMError* error);
    bool performTransaction(const std::function<bool()>& block);

    // Generic row operations. The block turns one row (rowid included) into
    // a model object, or refuses it with nothing.
    template <typename T>
    using CreateDataTypeBlock = std::function<std::optional<T>(const APMRow& row, APMError* error)>;

    template <typename T>
    std::optional<QList<T>> allDataTypesFromTableWithName(
        const QString& table, qint64 tableLimit, APMError* error, const CreateDataTypeBlock<T>& create);
    template <typename T>
    std::optional<QList<T>> dataTypesFromTableWithName(const QString& table, const QString& columnName,
        const QVariant& columnValue, APMError* error, const CreateDataTypeBlock<T>& create);
    bool insertDataType(const APMRecord& record, const QString& table, APMError* error);
    bool upsertDataType(const APMRecord& record, const QString& table, const QString& columnName,
        const QVariant& columnValue, qint64 tableLimit, APMError* error);
    bool updateDataType(const APMRecord& record, const QString& table, const QString& columnName,
        const QVariant& columnValue, APMError* error);
    // The same writes for a text the caller keeps, the values bound in
    // order: an insert, and an update of a row that must exist.
    bool insertRowWithStatement(const QString& sql, const QVariantList& values, APMError* error);
    bool updateRowWithStatement(const QString& sql, const QVariantList& values, APMError* error);

    // --- App metadata and daily counts ---
    std::optional<APMAppMetadata> queryAppMetadata(APMError* error);
    bool updateAppMetadata(const APMAppMetadata& metadata, APMError* error);
    // The counts are read from the file once and then kept as written: a
    // failed or rolled-back transaction, a reset, another change to the row,
    // another connection's change to the file and a new day by the clock
    // read them again.
    std::optional<APMDailyCounts> dailyCounts(APMError* error);
    bool updateDailyCounts(const APMDailyCounts& counts, APMError* error);

    // --- Raw events ---
    // Stores the metadata under its fingerprint, given back in `fingerprint`
    // when asked. The event pipeline keeps its metadata encoded and calls
    // the encoding's door below.
    bool insertIfNotExistsRawEventMetadata(
        const APMPBMeasurementBundle& metadata, APMError* error, qint64* fingerprint = nullptr);
    // The same for metadata already encoded, under its fingerprint
    // (apm_64LSBMD5 of the encoding).
    bool insertIfNotExistsRawEventMetadataEncoding(const QByteArray& encoding, qint64 fingerprint, APMError* error);
    std::unique_ptr<APMPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(
        qint64 fingerprint, APMError* error);
    bool deleteRawEventMetadataWithMetadataFingerprint(qint64 fingerprint, APMError* error);
    bool deleteUnusedRawEventsMetadata(APMError* error);
    bool insertRawEvent(const APMEvent& event, qint64 metadataFingerprint, bool isRealtime, APMError* error);
    std::optional<bool> isRawEventsTableEmpty(APMError* error);
    std::optional<double> queryLatestRawEventTime(APMError* error);
    std::optional<QList<APMRawEventData>> rawEventsWithMetadataFingerprint(
        qint64 fingerprint, APMError* error, const APMRowFilter& eventFilter);
    std::optional<bool> containsRawEventWithMetadataFingerprint(qint64 fingerprint, APMError* error);
    // Deletes the events of this fingerprint up to and including the row;
    // events of other metadata logged in between stay.
    bool deleteRawEventsWithMaxRowID(qint64 maxRowID, qint64 metadataFingerprint, APMError* error);
    std::optional<qint64> deleteRawEventsOverAbsoluteLimit(APMError* error);
    bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, APMError* error);
    std::optional<qint64> nextMetadataFingerprintToProcess(APMError* error);
    std::optional<bool> containsRealtimeRawEventsWithError(APMError* error);
    std::optional<APMRawEventData> rawEventDataFromDictionary(const APMRow& row, APMError* error);

    // --- Upload queue ---
    bool insertBundle(const APMPBMeasurementBundle& bundle, bool isRealtime, APMError* error);
    std::optional<std::vector<APMQueuedBundle>> queryBundlesWithCountLimit(
        qint64 countLimit, quint64 sizeLimit, APMError* error);
    std::optional<std::vector<APMQueuedBundle>> queryBundlesWithRowIDs(
        const QList<qint64>& rowIDs, APMError* error);
    bool incrementRetryCounterForBundlesWithIDs(const QList<qint64>& rowIDs, APMError* error);
    bool deleteBundlesWithRowIDs(const QList<qint64>& rowIDs, APMError* error);
    // True when a deletion pass ran, false when none was due.
    std::optional<bool> maybeDeleteStaleData(APMError* error);
    bool deleteStaleBundlesOlderThanMaxAge(double maxAge, APMError* error);
    std::optional<double> queryLatestBundleTime(APMError* error);
    std::optional<bool> isQueuedBundleTableEmpty(APMError* error);
    std::optional<bool> containsRealtimeBundlesWithError(APMError* error);

    // --- Event aggregates and user attributes ---
    std::optional<qint64> publicEventCount(APMError* error);
    std::optional<QList<APMEventAggregates>> allEventAggregates(APMError* error);
    std::optional<APMEventAggregates> eventAggregatesWithName(const QString& name, APMError* error);
    // Whether the event's aggregates row is there (and reads, as
    // eventAggregatesWithName tells: a row that does not read is an error).
    // Asked for every logged event: names found are kept between reads.
    std::optional<bool> hasEventAggregatesWithName(const QString& name, APMError* error);
    std::optional<APMEventAggregates> eventAggregatesSnapshotWithName(const QString& name, APMError* error);
    std::optional<APMEventAggregates> eventAggregatesWithNameInTable(
        const QString& name, const QString& table, APMError* error);
    bool updateEventAggregates(const APMEventAggregates& aggregates, APMError* error);
    bool clearCurrentSessionCounts(APMError* error);
    bool deleteAllEventAggregates(APMError* error);
    bool deleteAllEventAggregatesInSnapshot(APMError* error);
    bool createEventsSnapshotTable(APMError* error);
    bool restoreFromEventsSnapshotTable(APMError* error);
    std::optional<qint64> publicUserAttributeCount(APMError* error);
    std::optional<qint64> userAttributeCountForOrigin(const QString& origin, APMError* error);
    std::optional<bool> containsUserAttributeWithName(const QString& name, APMError* error);
    // Answered from the kept user properties when they hold the whole table.
    std::optional<APMUserAttribute> userAttributeWithName(const QString& name, APMError* error);
    std::optional<QList<APMUserAttribute>> allLifetimeValueUserAttributes(APMError* error);
    // Kept between reads like the daily counts (without the day).
    std::optional<QList<APMUserAttribute>> userAttributesIncludingInternal(bool includeInternal, APMError* error);
    bool updateUserAttribute(const APMUserAttribute& attribute, APMError* error);
    bool deleteUserAttributeWithName(const QString& name, APMError* error);

    // --- Audience filters and results ---
    bool updateEventFilters(const QList<APMEventFilter>& filters, APMError* error);
    bool updatePropertyFilters(const QList<APMPropertyFilter>& filters, APMError* error);
    std::optional<QList<APMEventFilter>> eventFiltersForEventName(const QString& eventName, APMError* error);
    std::optional<QList<APMPropertyFilter>> propertyFiltersForPropertyName(
        const QString& propertyName, APMError* error);
    bool deleteEventFilters(const QList<APMEventFilter>& filters, APMError* error);
    bool deletePropertyFilters(const QList<APMPropertyFilter>& filters, APMError* error);
    bool deleteAllEventFilters(APMError* error);
    bool deleteAllPropertyFilters(APMError* error);
    std::optional<QList<qint32>> allAudienceIDs(APMError* error);
    std::optional<QMap<qint32, QList<qint32>>> allSessionScopedFilters(APMError* error);
    bool updateFilterResults(const QList<APMFilterResult>& results, APMError* error);
    std::optional<APMFilterResult> filterResultForAudienceID(qint32 audienceID, APMError* error);
    std::optional<QMap<qint32, APMFilterResult>> allFilterResults(APMError* error);
    bool deleteFilterResults(const QList<APMFilterResult>& results, APMError* error);

    // --- Remote-config blob, purchases, conditional properties, main events ---
    bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error);
    bool updateRemoteConfigSuccessfulTimestamp(double timestamp, APMError* error);
    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError* error);
    std::optional<double> lastRemoteConfigUpdateTimestamp(APMError* error);
    std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(const QString& fingerprint, APMError* error);
    std::optional<bool> insertIfNotDuplicateSubscriptionID(const QString& subscriptionID, APMError* error);
    std::optional<qint64> deleteSubscriptionsOverLimit(APMError* error);
    std::optional<APMConditionalUserProperty> conditionalUserPropertyWithName(
        const QString& name, APMError* error);
    bool updateConditionalUserProperty(const APMConditionalUserProperty& property, APMError* error);
    bool deleteConditionalUserPropertyWithName(const QString& name, APMError* error);
    std::optional<QList<APMConditionalUserProperty>> timedOutConditionalUserPropertiesWithError(
        APMError* error);
    std::optional<QList<APMConditionalUserProperty>> expiredConditionalUserPropertiesWithError(
        APMError* error);
    std::optional<QList<APMConditionalUserProperty>> triggeredConditionalUserPropertiesWithEventName(
        const QString& eventName, APMError* error);
    std::optional<QList<APMConditionalUserProperty>> conditionalUserPropertiesWithPrefix(
        const QString& prefix, const QString& origin, APMError* error);
    std::optional<QList<APMConditionalUserProperty>> conditionalUserPropertiesWithCondition(
        const QString& condition, const QVariantList& parameterValues, APMError* error);
    bool updateComplexEventForAudienceEvaluationWithEventID(
        qint64 eventID, qint64 childEventCount, const APMEvent& mainEvent, APMError* error);
    std::optional<std::pair<APMEvent, qint64>> mainEventAndChildCountPairWithEventID(
        qint64 eventID, APMError* error);
    bool deleteComplexEventForAudienceEvaluationWithEventID(qint64 eventID, APMError* error);

private:
    APMDatabase(APMPersistedConfig* persistedConfig);

    bool initializeDatabaseResourcesWithContext(const QString& context, const QString& path, APMError* error);
    bool ensureAllTables();
    bool initializeAppMetadata();

    // The rows behind the two generic readers; nothing on failure.
    std::optional<QList<APMRow>> rowsOfTable(const QString& table, qint64 tableLimit, APMError* error);
    std::optional<QList<APMRow>> rowsOfTableWhere(
        const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error);

    // What every logged event reads, kept from one read to the next: the
    // daily counts (with the day the clock gave when they were read) and the
    // user properties, each with the file's data version at the read. A
    // change to their table or a rollback on this connection forgets them
    // (forgetKeptRows), and so does a new store. Before the store: its
    // change observer clears them until it is closed.
    struct DailyCountsCache {
        APMDailyCounts counts;
        qint32 today;
        qint64 dataVersion;
    };
    std::optional<DailyCountsCache> dailyCountsCache_;
    struct UserAttributesCache {
        QList<APMUserAttribute> attributes;
        qint64 dataVersion;
    };
    std::optional<UserAttributesCache> userAttributesCache_;
    // The event names whose aggregates row was read, forgotten like the
    // rows above on a change to the events table.
    struct KnownAggregatesCache {
        QSet<QString> names;
        qint64 dataVersion;
    };
    std::optional<KnownAggregatesCache> knownAggregatesCache_;
    // What the upload schedule asks of the raw events after every logged
    // event: the latest timestamp (nothing for an empty table) and whether
    // any is real-time. Each is a walk over the whole table in SQLite (no
    // index serves them), so the answers are kept; an insert through
    // insertRawEvent brings them up to date, any other change to the table
    // forgets them like the rows above. The lowest and highest row IDs
    // (nothing for an empty table), which the storage limit looks at before
    // every insert, are kept the same way.
    struct RowIDRange {
        qint64 lowest;
        qint64 highest;
    };
    struct RawEventsSummaryCache {
        std::optional<std::optional<double>> latestTimestamp;
        std::optional<bool> containsRealtime;
        std::optional<std::optional<RowIDRange>> rowIDs;
        qint64 dataVersion;
    };
    std::optional<RawEventsSummaryCache> rawEventsSummaryCache_;
    // The metadata row this connection last wrote or found intact, so the
    // next event of the same metadata needs no look at the file; forgotten
    // like the rows above on a change to raw_events_metadata.
    struct StoredMetadataCache {
        QByteArray encoding;
        qint64 fingerprint;
        qint64 dataVersion;
    };
    std::optional<StoredMetadataCache> storedMetadataCache_;
    // While rawEventsWithMetadataFingerprint reads: the rows its filter has
    // already turned into events (a filter reads each row through
    // rawEventDataFromDictionary), so no row is decoded twice.
    struct RawEventReadMemo;
    RawEventReadMemo* rawEventReadMemo_ = nullptr;
    // The summary kept, when it is still good for this data version
    // (otherwise it is dropped and a fresh one started for the version).
    RawEventsSummaryCache* rawEventsSummary();
    // The raw events' row IDs, kept in the summary; nothing when the read
    // fails, an empty range for an empty table.
    std::optional<std::optional<RowIDRange>> rawEventRowIDRange(APMError* error);
    // A table's name, or nullptr for a rollback.
    void forgetKeptRows(const char* table);
    // The file's data version, or -1 when it cannot be read.
    qint64 dataVersion() const;

    std::unique_ptr<APMSqliteStore> sqliteStore_;
    APMPersistedConfig* persistedConfig_ = nullptr;
    platform::Clock* clock_ = nullptr;
};

// The parameters of one wire parameter message: name to value (a QString, a
// qint64, a double, or an APMValue array of item maps). With `nested` the
// message is an item of an item list and answers its entries unwrapped.
std::optional<QVariantMap> eventParamsFromBlob(const APMPBEventParam* param, bool nested, APMError* error);
// What a column stores for a value: its string, its double, or its int64.
QVariant APMColumnObjectFromValue(const APMValue& value);

template <typename T>
std::optional<QList<T>> APMDatabase::allDataTypesFromTableWithName(
    const QString& table, qint64 tableLimit, APMError* error, const CreateDataTypeBlock<T>& create)
{
    if (!APMCheckCondition(bool(create), error, APMError::InvalidArgument,
            QStringLiteral("Received nil block to get all data types")))
        return std::nullopt;
    auto rows = rowsOfTable(table, tableLimit, error);
    if (!rows)
        return std::nullopt;
    QList<T> result;
    for (const APMRow& row : *rows) {
        if (auto object = create(row, error))
            result.append(std::move(*object));
    }
    return result;
}

template <typename T>
std::optional<QList<T>> APMDatabase::dataTypesFromTableWithName(const QString& table, const QString& columnName,
    const QVariant& columnValue, APMError* error, const CreateDataTypeBlock<T>& create)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty table name to create data type from table"))
        || !APMCheckCondition(!columnName.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty column name to create data type from table"))
        || !APMCheckCondition(columnValue.isValid(), error, APMError::InvalidArgument,
            QStringLiteral("Received nil column value to create data type from table"))
        || !APMCheckCondition(bool(create), error, APMError::InvalidState,
            QStringLiteral("Received nil block to create data type from table")))
        return std::nullopt;
    auto rows = rowsOfTableWhere(table, columnName, columnValue, error);
    if (!rows)
        return std::nullopt;
    QList<T> result;
    for (const APMRow& row : *rows) {
        if (auto object = create(row, error))
            result.append(std::move(*object));
    }
    if (!rows->isEmpty() && result.isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Failed to initialize data types from dictionaries"));
        return std::nullopt;
    }
    return result;
}
