// Event aggregates (the events table and its snapshot) and user attributes
// (the user_attributes table) of the measurement database.

#include "analytics/model/APMEventAggregates.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/base/APMValue.h"

#include <QMetaType>

#include <cmath>
#include <limits>

namespace {

// Both tables keep one row per name and at most this many names.
constexpr qint64 kEventsTableLimit = 1000;
constexpr qint64 kUserAttributesTableLimit = 1000;

// The first-open event, whose count must survive a snapshot restore.
const QString kFirstOpenEventName = QStringLiteral("_f");
// User properties of the lifetime value start with this prefix.
const QString kLifetimeValuePrefix = QStringLiteral("_ltv_");

const QString kNameColumn = QStringLiteral("name");
const QString kLifetimeCountColumn = QStringLiteral("lifetime_count");
const QString kCurrentBundleCountColumn = QStringLiteral("current_bundle_count");
const QString kCurrentSessionCountColumn = QStringLiteral("current_session_count");
const QString kLastFireTimestampColumn = QStringLiteral("last_fire_timestamp");
const QString kLastBundledTimestampColumn = QStringLiteral("last_bundled_timestamp");
const QString kLastSampledComplexEventIDColumn = QStringLiteral("last_sampled_complex_event_id");
const QString kLastSamplingRateColumn = QStringLiteral("last_sampling_rate");
const QString kLastExemptFromSamplingColumn = QStringLiteral("last_exempt_from_sampling");
const QString kLastBundledDayColumn = QStringLiteral("last_bundled_day");
const QString kOriginColumn = QStringLiteral("origin");
const QString kValueColumn = QStringLiteral("value");
const QString kSetTimestampColumn = QStringLiteral("set_timestamp");

constexpr qint64 kSnapshotTableFailedCode = 12058;

// A stored whole number; nothing for NULL, a missing column, text or a blob.
// A REAL is accepted when it is finite, and saturates at the int64 bounds.
std::optional<qint64> int64FromColumn(const QVariant& value)
{
    if (!APMIsSqlValue(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::LongLong)
        return value.toLongLong();
    if (value.typeId() == QMetaType::Double) {
        const double number = value.toDouble();
        if (!std::isfinite(number))
            return std::nullopt;
        // 2^63 is exactly representable; anything at or above it saturates.
        if (number >= 9223372036854775808.0)
            return std::numeric_limits<qint64>::max();
        if (number <= -9223372036854775808.0)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(number);
    }
    return std::nullopt;
}

// Counters are 32-bit in the model; a larger stored count (another writer, a
// damaged file) is held at the 32-bit bound instead of wrapping.
qint32 saturatedInt32(qint64 value)
{
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(value);
}

std::optional<double> doubleFromColumn(const QVariant& value)
{
    if (!APMIsSqlValue(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Double)
        return value.toDouble();
    return std::nullopt;
}

std::optional<APMEventAggregates> eventAggregatesFromRow(const APMRow& row, APMError*)
{
    const QVariant name = row.value(kNameColumn);
    const auto lifetimeCount = int64FromColumn(row.value(kLifetimeCountColumn));
    const auto currentBundleCount = int64FromColumn(row.value(kCurrentBundleCountColumn));
    const auto lastFireTimestamp = doubleFromColumn(row.value(kLastFireTimestampColumn));
    if (name.typeId() != QMetaType::QString || !lifetimeCount || !currentBundleCount || !lastFireTimestamp)
        return std::nullopt;
    const qint64 currentSessionCount = int64FromColumn(row.value(kCurrentSessionCountColumn)).value_or(0);

    auto aggregates = APMEventAggregates::initWithName(name.toString(), saturatedInt32(*lifetimeCount),
        saturatedInt32(*currentBundleCount), saturatedInt32(currentSessionCount), *lastFireTimestamp);
    if (!aggregates)
        return std::nullopt;
    aggregates->setLastBundledTimestamp(doubleFromColumn(row.value(kLastBundledTimestampColumn)).value_or(0));
    aggregates->setLastSampledComplexEventID(int64FromColumn(row.value(kLastSampledComplexEventIDColumn)));
    aggregates->setLastSamplingRate(
        saturatedInt32(int64FromColumn(row.value(kLastSamplingRateColumn)).value_or(1)));
    aggregates->setLastExemptFromSampling(
        int64FromColumn(row.value(kLastExemptFromSamplingColumn)).value_or(0) != 0);
    aggregates->setLastBundledDay(
        saturatedInt32(int64FromColumn(row.value(kLastBundledDayColumn)).value_or(0)));
    return aggregates;
}

APMRecord recordFromEventAggregates(const APMEventAggregates& aggregates)
{
    APMRecord record {
        { kNameColumn, aggregates.name() },
        { kLifetimeCountColumn, aggregates.lifetimeCount() },
        { kCurrentBundleCountColumn, aggregates.currentBundleCount() },
        { kCurrentSessionCountColumn, aggregates.currentSessionCount() },
        { kLastFireTimestampColumn, aggregates.lastFireTimestamp() },
        { kLastBundledTimestampColumn, aggregates.lastBundledTimestamp() },
        { kLastSamplingRateColumn, aggregates.lastSamplingRate() },
        { kLastExemptFromSamplingColumn, aggregates.lastExemptFromSampling() },
        { kLastBundledDayColumn, aggregates.lastBundledDay() },
    };
    if (const auto& eventID = aggregates.lastSampledComplexEventID())
        record.insert(kLastSampledComplexEventIDColumn, *eventID);
    return record;
}

std::optional<APMUserAttribute> userAttributeFromRow(const APMRow& row, APMError* error)
{
    if (row.isEmpty()) {
        APMSetErrorWithCode(error, APMError::StorageFailure,
            QStringLiteral("Received empty dictionary for getting user property"));
        return std::nullopt;
    }
    const auto value = APMValue::valueFromObject(row.value(kValueColumn));
    const auto setTimestamp = doubleFromColumn(row.value(kSetTimestampColumn));
    if (!value || !setTimestamp)
        return std::nullopt;
    const QVariant origin = row.value(kOriginColumn);
    return APMUserAttribute::initWithOrigin(
        origin.typeId() == QMetaType::QString ? origin.toString() : QString(),
        row.value(kNameColumn).toString(), *value, *setTimestamp);
}

bool isInternalUserAttributeName(const QString& name)
{
    return name.startsWith(QLatin1Char('_')) || APMDataTypeValidator::hasReservedPrefixes(name)
        || APMPublicToInternalUserPropertyNames().contains(name);
}

// The answer of a count query; a NULL answer (which count() never gives) is a failure too.
std::optional<qint64> countForQuery(
    APMSqliteStore& store, const QString& query, const QVariantList& parameters, APMError* error)
{
    bool failed = false;
    const auto count = int64FromColumn(store.numberForQuery(query, parameters, error, &failed));
    if (failed)
        return std::nullopt;
    if (!count) {
        APMSetErrorWithCode(error, APMError::StorageFailure, QStringLiteral("Count query gave no number"));
        return std::nullopt;
    }
    return count;
}

} // namespace

// --- Event aggregates ---

std::optional<qint64> APMDatabase::publicEventCount(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return countForQuery(*store,
        QStringLiteral("SELECT count(1) FROM %1 WHERE name NOT LIKE '!_%' ESCAPE '!'").arg(kEventsTable), {},
        error);
}

std::optional<QList<APMEventAggregates>> APMDatabase::allEventAggregates(APMError* error)
{
    return allDataTypesFromTableWithName<APMEventAggregates>(
        kEventsTable, kEventsTableLimit, error, eventAggregatesFromRow);
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesWithName(const QString& name, APMError* error)
{
    return eventAggregatesWithNameInTable(name, kEventsTable, error);
}

std::optional<bool> APMDatabase::hasEventAggregatesWithName(const QString& name, APMError* error)
{
    const qint64 version = dataVersion();
    if (knownAggregatesCache_ && (version < 0 || knownAggregatesCache_->dataVersion != version))
        knownAggregatesCache_.reset();
    if (knownAggregatesCache_ && knownAggregatesCache_->names.contains(name))
        return true;
    APMError readError;
    const std::optional<APMEventAggregates> aggregates = eventAggregatesWithName(name, &readError);
    if (!aggregates && readError.code() != 0) {
        if (error)
            *error = readError;
        return std::nullopt;
    }
    if (!aggregates)
        return false;
    if (version >= 0) {
        if (!knownAggregatesCache_)
            knownAggregatesCache_ = KnownAggregatesCache { {}, version };
        knownAggregatesCache_->names.insert(name);
    }
    return true;
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesSnapshotWithName(
    const QString& name, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto exists = store->tableExists(kEventsSnapshotTable, error);
    if (!exists || !*exists)
        return std::nullopt;
    return eventAggregatesWithNameInTable(name, kEventsSnapshotTable, error);
}

std::optional<APMEventAggregates> APMDatabase::eventAggregatesWithNameInTable(
    const QString& name, const QString& table, APMError* error)
{
    const auto aggregates = dataTypesFromTableWithName<APMEventAggregates>(
        table, kNameColumn, name, error, eventAggregatesFromRow);
    if (!aggregates || aggregates->isEmpty())
        return std::nullopt;
    return aggregates->first();
}

bool APMDatabase::updateEventAggregates(const APMEventAggregates& aggregates, APMError* error)
{
    // The record's name was checked when it was made: it is a valid, non-empty event name.
    return upsertDataType(recordFromEventAggregates(aggregates), kEventsTable, kNameColumn, aggregates.name(),
        kEventsTableLimit, error);
}

bool APMDatabase::clearCurrentSessionCounts(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store
        && store->updateAllRecordsInTableWithName(kEventsTable, kCurrentSessionCountColumn, 0, error);
}

bool APMDatabase::deleteAllEventAggregates(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->deleteAllRecordsFromTableWithName(kEventsTable, error);
}

bool APMDatabase::deleteAllEventAggregatesInSnapshot(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->deleteAllRecordsFromTableWithName(kEventsSnapshotTable, error);
}

bool APMDatabase::createEventsSnapshotTable(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    const auto exists = store->tableExists(kEventsSnapshotTable, error);
    if (!exists)
        return false;
    // An old snapshot that cannot be dropped would keep its rows under the
    // new ones, and a later restore would copy both; so its failure counts.
    if (*exists && !store->dropTableWithName(kEventsSnapshotTable, error))
        return false;
    if (!store->createEmptyTable(kEventsSnapshotTable, kEventsTable, error)) {
        APMLibrary::monitor().logWithLevel(
            4, kSnapshotTableFailedCode, QStringLiteral("Failed to ensure event snapshot table"));
        return false;
    }
    return store->copyContentsFromTable(kEventsTable, kEventsSnapshotTable, error);
}

bool APMDatabase::restoreFromEventsSnapshotTable(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return false;
    const auto exists = store->tableExists(kEventsSnapshotTable, error);
    if (!exists)
        return false;
    if (!*exists)
        return true;
    const auto snapshotRows = store->rowCountForTableWithName(kEventsSnapshotTable, error);
    if (!snapshotRows)
        return false;
    if (*snapshotRows == 0)
        return true;

    // A first open counted after the snapshot was taken must not be undone.
    APMError readError;
    const auto currentFirstOpen = eventAggregatesWithName(kFirstOpenEventName, &readError);
    if (!currentFirstOpen && readError.code() != 0) {
        if (error)
            *error = readError;
        return false;
    }

    if (!store->deleteAllRecordsFromTableWithName(kEventsTable, error)
        || !store->copyContentsFromTable(kEventsSnapshotTable, kEventsTable, error))
        return false;

    const auto snapshotFirstOpen = eventAggregatesSnapshotWithName(kFirstOpenEventName, &readError);
    if (!snapshotFirstOpen && readError.code() != 0) {
        if (error)
            *error = readError;
        return false;
    }
    if (currentFirstOpen && (!snapshotFirstOpen || snapshotFirstOpen->lifetimeCount() == 0)
        && !updateEventAggregates(*currentFirstOpen, error))
        return false;

    return store->deleteAllRecordsFromTableWithName(kEventsSnapshotTable, error);
}

// --- User attributes ---

std::optional<qint64> APMDatabase::publicUserAttributeCount(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return countForQuery(*store,
        QStringLiteral("SELECT count(1) FROM %1 WHERE name NOT LIKE '!_%' ESCAPE '!'")
            .arg(kUserAttributesTable),
        {}, error);
}

std::optional<qint64> APMDatabase::userAttributeCountForOrigin(const QString& origin, APMError* error)
{
    if (!APMCheckCondition(!origin.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty user property origin for count query")))
        return std::nullopt;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return countForQuery(*store,
        QStringLiteral("SELECT count(1) FROM %1 WHERE origin = ?").arg(kUserAttributesTable), { origin },
        error);
}

std::optional<bool> APMDatabase::containsUserAttributeWithName(const QString& name, APMError* error)
{
    if (!APMCheckCondition(!name.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty user property name for exists query")))
        return std::nullopt;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto exists = countForQuery(*store,
        QStringLiteral("SELECT EXISTS (SELECT 1 FROM %1 WHERE name = ? LIMIT 1)").arg(kUserAttributesTable),
        { name }, error);
    if (!exists)
        return std::nullopt;
    return *exists != 0;
}

std::optional<APMUserAttribute> APMDatabase::userAttributeWithName(const QString& name, APMError* error)
{
    // The kept list is the whole table when every row read and the table
    // limit was not reached; a name missing from it is missing from the file.
    if (userAttributesCache_ && userAttributesCache_->attributes.size() < kUserAttributesTableLimit) {
        const qint64 version = dataVersion();
        if (version >= 0 && userAttributesCache_->dataVersion == version) {
            for (const APMUserAttribute& attribute : userAttributesCache_->attributes) {
                if (attribute.name() == name)
                    return attribute;
            }
            return std::nullopt;
        }
    }
    const auto attributes = dataTypesFromTableWithName<APMUserAttribute>(
        kUserAttributesTable, kNameColumn, name, error, userAttributeFromRow);
    if (!attributes || attributes->isEmpty())
        return std::nullopt;
    return attributes->first();
}

std::optional<QList<APMUserAttribute>> APMDatabase::allLifetimeValueUserAttributes(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    // An exact prefix test: under LIKE the underscores of "_ltv_" would match
    // any character and the match would ignore case.
    const auto rows = store->recordsForQuery(
        QStringLiteral("SELECT * FROM %1 WHERE substr(name, 1, length(?)) = ? ORDER BY set_timestamp DESC")
            .arg(kUserAttributesTable),
        { kLifetimeValuePrefix, kLifetimeValuePrefix }, error);
    if (!rows)
        return std::nullopt;
    QList<APMUserAttribute> attributes;
    for (const APMRow& row : *rows) {
        auto attribute = userAttributeFromRow(row, error);
        if (!attribute) {
            APMSetErrorWithCode(error, APMError::InvalidState,
                QStringLiteral("Failed to initialize lifetime value user property from database"));
            return std::nullopt;
        }
        attributes.append(std::move(*attribute));
    }
    return attributes;
}

std::optional<QList<APMUserAttribute>> APMDatabase::userAttributesIncludingInternal(
    bool includeInternal, APMError* error)
{
    const qint64 version = dataVersion();
    std::optional<QList<APMUserAttribute>> attributes;
    if (userAttributesCache_ && version >= 0 && userAttributesCache_->dataVersion == version) {
        attributes = userAttributesCache_->attributes;
    } else {
        userAttributesCache_.reset();
        // A row that cannot be read is left out with an error beside the
        // list; such a read is not kept, so that the error is seen each time.
        APMError readError;
        attributes = allDataTypesFromTableWithName<APMUserAttribute>(
            kUserAttributesTable, kUserAttributesTableLimit, &readError, userAttributeFromRow);
        if (readError.code() != 0) {
            if (error)
                *error = readError;
        } else if (attributes && version >= 0) {
            userAttributesCache_ = UserAttributesCache { *attributes, version };
        }
    }
    if (attributes && !includeInternal) {
        attributes->removeIf(
            [](const APMUserAttribute& attribute) { return isInternalUserAttributeName(attribute.name()); });
    }
    return attributes;
}

bool APMDatabase::updateUserAttribute(const APMUserAttribute& attribute, APMError* error)
{
    if (!APMCheckCondition(!attribute.origin().isEmpty(), error, APMError::StorageFailure,
            QStringLiteral("Received user property with empty origin for getting dictionary representation"))
        || !APMCheckCondition(std::isfinite(attribute.lastSetTimestamp()), error, APMError::InvalidArgument,
            QStringLiteral("Received user property with a set time that is not a number")))
        return false;
    // Name and value were checked when the record was made: the name is a
    // valid internal name and a text value is never empty.
    const APMRecord record {
        { kOriginColumn, attribute.origin() },
        { kNameColumn, attribute.name() },
        { kValueColumn, APMColumnObjectFromValue(attribute.value()) },
        { kSetTimestampColumn, attribute.lastSetTimestamp() },
    };
    return upsertDataType(
        record, kUserAttributesTable, kNameColumn, attribute.name(), kUserAttributesTableLimit, error);
}

bool APMDatabase::deleteUserAttributeWithName(const QString& name, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store && store->deleteRecordFromTableWithName(kUserAttributesTable, kNameColumn, name, error);
}
