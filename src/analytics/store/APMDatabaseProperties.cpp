// The remote-configuration blob of the app metadata row, purchase and
// subscription de-duplication, conditional user properties and the main
// events of complex events, in the measurement database.

#include "analytics/model/APMConditionalUserProperty.h"
#include "analytics/model/APMEvent.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/base/APMValue.h"

#include <QMetaType>
#include <QStringList>

#include <cmath>

namespace {

// Purchases and subscriptions keep this many of their newest keys; the
// conditional properties table takes at most this many names.
constexpr qint64 kPurchaseTransactionsLimit = 1000;
constexpr qint64 kSubscriptionsLimit = 1000;
constexpr qint64 kConditionalPropertiesLimit = 1000;

// The measurement configuration's app ID (tag 2).
constexpr int32_t kMeasurementConfigAppIDSlot = 1;

const QString kPropertiesRowIDColumn = QStringLiteral("rowid");
const QString kRemoteConfigDataColumn = QStringLiteral("remote_config_data");
const QString kRemoteConfigTimestampColumn = QStringLiteral("remote_config_timestamp");
const QString kPropertiesFingerprintColumn = QStringLiteral("fingerprint");
const QString kSubscriptionIDColumn = QStringLiteral("subscription_id");
const QString kPropertiesNameColumn = QStringLiteral("name");
const QString kPropertiesOriginColumn = QStringLiteral("origin");
const QString kPropertiesValueColumn = QStringLiteral("value");
const QString kCreationTimestampColumn = QStringLiteral("creation_timestamp");
const QString kActiveColumn = QStringLiteral("active");
const QString kTriggerTimeoutColumn = QStringLiteral("trigger_timeout");
const QString kTriggeredTimestampColumn = QStringLiteral("triggered_timestamp");
const QString kTimeToLiveColumn = QStringLiteral("time_to_live");
const QString kTriggerEventNameColumn = QStringLiteral("trigger_event_name");
const QString kTriggeredEventColumn = QStringLiteral("triggered_event");
const QString kTimedOutEventColumn = QStringLiteral("timed_out_event");
const QString kExpiredEventColumn = QStringLiteral("expired_event");
const QString kEventIDColumn = QStringLiteral("event_id");
const QString kChildrenToProcessColumn = QStringLiteral("children_to_process");
const QString kMainEventColumn = QStringLiteral("main_event");

double propertyDoubleFromColumn(const QVariant& value)
{
    return value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Double ? value.toDouble()
                                                                                        : 0;
}

// The LIKE pattern that matches exactly `text` ("\" escapes "\", "_" and "%").
QString likePatternMatching(const QString& text)
{
    QString pattern;
    pattern.reserve(text.size());
    for (const QChar character : text) {
        if (character == QLatin1Char('\\') || character == QLatin1Char('_') || character == QLatin1Char('%'))
            pattern.append(QLatin1Char('\\'));
        pattern.append(character);
    }
    return pattern;
}

// The wire form of an event, as stored in a blob; nothing when it does not encode.
QByteArray eventBlob(const APMEvent& event)
{
    const auto proto = event.protoEvent();
    if (!proto)
        return {};
    return proto->protoBuffer().value_or(QByteArray());
}

std::optional<APMEvent> eventFromBlob(const QVariant& blob, APMError* error)
{
    if (blob.typeId() != QMetaType::QByteArray) {
        APMSetErrorWithCode(error, APMError::InvalidState,
            QStringLiteral("Failed to convert data to an event. Data must be a byte array"));
        return std::nullopt;
    }
    const auto proto = APMPBEvent::initWithBuffer(blob.toByteArray());
    if (!proto) {
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Failed to parse event from data"));
        return std::nullopt;
    }
    // Stored events were checked when they were logged; they are read back
    // under the compiled parameter limits, which no configuration narrows.
    auto event = APMEvent::initWithEventProto(*proto, EventParameterLimits());
    if (!event)
        APMSetErrorWithCode(
            error, APMError::InvalidState, QStringLiteral("Failed to initialize event from proto data"));
    return event;
}

std::optional<APMConditionalUserProperty> conditionalUserPropertyFromRow(const APMRow& row, APMError* error)
{
    APMConditionalUserProperty property;
    property.setName(row.value(kPropertiesNameColumn).toString());
    property.setOrigin(row.value(kPropertiesOriginColumn).toString());
    if (APMIsSqlValue(row.value(kPropertiesValueColumn)))
        property.setValue(APMValue::valueFromObject(row.value(kPropertiesValueColumn)));
    property.setTriggerTimeout(propertyDoubleFromColumn(row.value(kTriggerTimeoutColumn)));
    property.setTimeToLive(propertyDoubleFromColumn(row.value(kTimeToLiveColumn)));
    const QVariant triggerEventName = row.value(kTriggerEventNameColumn);
    if (APMIsSqlValue(triggerEventName))
        property.setTriggerEventName(triggerEventName.toString());

    using Setter = void (APMConditionalUserProperty::*)(const std::optional<APMEvent>&);
    const std::pair<const QString*, Setter> eventColumns[] = {
        { &kTriggeredEventColumn, &APMConditionalUserProperty::setTriggeredEvent },
        { &kTimedOutEventColumn, &APMConditionalUserProperty::setTimedOutEvent },
        { &kExpiredEventColumn, &APMConditionalUserProperty::setExpiredEvent },
    };
    for (const auto& [column, setter] : eventColumns) {
        const QVariant blob = row.value(*column);
        if (!APMIsSqlValue(blob))
            continue;
        auto event = eventFromBlob(blob, error);
        if (!event)
            return std::nullopt;
        (property.*setter)(event);
    }

    property.setActive(propertyDoubleFromColumn(row.value(kActiveColumn)) != 0);
    property.setCreationTimestamp(propertyDoubleFromColumn(row.value(kCreationTimestampColumn)));
    property.setTriggeredTimestamp(propertyDoubleFromColumn(row.value(kTriggeredTimestampColumn)));
    return property;
}

// The first row's single-column answer: a number for EXISTS.
std::optional<bool> existsForQuery(
    APMSqliteStore& store, const QString& query, const QVariantList& parameters, APMError* error)
{
    bool failed = false;
    const QVariant answer = store.numberForQuery(query, parameters, error, &failed);
    if (failed)
        return std::nullopt;
    if (answer.typeId() != QMetaType::LongLong) {
        APMSetErrorWithCode(error, APMError::StorageFailure, QStringLiteral("Exists query gave no number"));
        return std::nullopt;
    }
    return answer.toLongLong() != 0;
}

// Records `key` in `table` once: false for an empty key or one seen before.
std::optional<bool> insertIfNotDuplicate(
    APMSqliteStore& store, const QString& table, const QString& column, const QString& key, APMError* error)
{
    if (key.isEmpty())
        return false;
    const auto exists = existsForQuery(store,
        QStringLiteral("SELECT EXISTS (SELECT 1 FROM %1 WHERE %2 = ? LIMIT 1)").arg(table, column), { key },
        error);
    if (!exists)
        return std::nullopt;
    if (*exists)
        return false;
    if (!store.upsertRecord({ { column, key } }, table, error))
        return std::nullopt;
    return true;
}

// Deletes all but the newest `keep` rows of `table` by rowid; the number deleted.
std::optional<qint32> deleteRowsOverLimit(
    APMSqliteStore& store, const QString& table, qint64 keep, APMError* error)
{
    return store.deleteRecordsFromTableWithName(table,
        QStringLiteral("rowid IN (SELECT rowid FROM %1 ORDER BY rowid DESC LIMIT -1 OFFSET ?)").arg(table),
        { keep }, error);
}

} // namespace

// --- Remote-config blob ---

bool APMDatabase::updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error)
{
    const QByteArray data = config.protoBuffer().value_or(QByteArray());
    if (!APMCheckCondition(!data.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Invalid measurement config data"))
        || !APMCheckCondition(!APMPBGetStringField(&config, kMeasurementConfigAppIDSlot).isEmpty(), error,
            APMError::InvalidArgument, QStringLiteral("Missing Vireo app ID in measurement configuration")))
        return false;
    const APMRecord record {
        { kRemoteConfigDataColumn, data },
        { kRemoteConfigTimestampColumn, clock().now() },
    };
    return updateDataType(record, kAppMetadataTable, kPropertiesRowIDColumn, qint64(1), error);
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, APMError* error)
{
    if (!APMCheckCondition(std::isfinite(timestamp), error, APMError::InvalidArgument,
            QStringLiteral("Received remote config timestamp that is not a number")))
        return false;
    return updateDataType(
        { { kRemoteConfigTimestampColumn, timestamp } }, kAppMetadataTable, kPropertiesRowIDColumn, qint64(1), error);
}

std::unique_ptr<APMPBMeasurementConfig> APMDatabase::queryMeasurementConfigWithError(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return nullptr;
    const auto rows = store->recordsForQuery(
        QStringLiteral("SELECT remote_config_data FROM %1 LIMIT 1").arg(kAppMetadataTable), {}, error);
    if (!rows || rows->isEmpty())
        return nullptr;
    const QVariant data = rows->first().value(kRemoteConfigDataColumn);
    if (data.typeId() != QMetaType::QByteArray || data.toByteArray().isEmpty())
        return nullptr;
    auto config = APMPBMeasurementConfig::initWithBuffer(data.toByteArray());
    if (!config)
        APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("Remote config data is corrupted"));
    return config;
}

std::optional<double> APMDatabase::lastRemoteConfigUpdateTimestamp(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const QVariant timestamp = store->numberForQuery(
        QStringLiteral("SELECT remote_config_timestamp FROM %1 LIMIT 1").arg(kAppMetadataTable), {}, error);
    if (!timestamp.isValid())
        return std::nullopt;
    return timestamp.toDouble();
}

// --- Purchases and subscriptions ---

std::optional<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(
    const QString& fingerprint, APMError* error)
{
    if (fingerprint.isEmpty())
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto inserted
        = insertIfNotDuplicate(*store, kPurchaseTransactionsTable, kPropertiesFingerprintColumn, fingerprint, error);
    if (!inserted || !*inserted)
        return inserted;
    if (!deleteRowsOverLimit(*store, kPurchaseTransactionsTable, kPurchaseTransactionsLimit, error))
        return std::nullopt;
    return true;
}

std::optional<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(
    const QString& subscriptionID, APMError* error)
{
    if (subscriptionID.isEmpty())
        return false;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    return insertIfNotDuplicate(*store, kSubscriptionsTable, kSubscriptionIDColumn, subscriptionID, error);
}

std::optional<qint64> APMDatabase::deleteSubscriptionsOverLimit(APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto deleted = deleteRowsOverLimit(*store, kSubscriptionsTable, kSubscriptionsLimit, error);
    if (!deleted)
        return std::nullopt;
    return *deleted;
}

// --- Conditional user properties ---

std::optional<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyWithName(
    const QString& name, APMError* error)
{
    const auto properties = dataTypesFromTableWithName<APMConditionalUserProperty>(
        kConditionalPropertiesTable, kPropertiesNameColumn, name, error, conditionalUserPropertyFromRow);
    if (!properties || properties->isEmpty())
        return std::nullopt;
    return properties->first();
}

bool APMDatabase::updateConditionalUserProperty(const APMConditionalUserProperty& property, APMError* error)
{
    if (!APMCheckCondition(!property.name().isEmpty(), error, APMError::StorageFailure,
            QStringLiteral(
                "Received conditional user property with empty name for getting dictionary representation"))
        || !APMCheckCondition(!property.origin().isEmpty(), error, APMError::StorageFailure,
            QStringLiteral(
                "Received conditional user property with empty origin for getting dictionary representation"))
        || !APMCheckCondition(property.value().has_value(), error, APMError::StorageFailure,
            QStringLiteral(
                "Received conditional user property with nil value for getting dictionary representation")))
        return false;

    APMRecord record {
        { kPropertiesNameColumn, property.name() },
        { kPropertiesOriginColumn, property.origin() },
        { kPropertiesValueColumn, APMColumnObjectFromValue(*property.value()) },
        { kCreationTimestampColumn, property.creationTimestamp() },
        { kActiveColumn, property.isActive() },
        { kTriggerTimeoutColumn, property.triggerTimeout() },
        { kTriggeredTimestampColumn, property.triggeredTimestamp() },
        { kTimeToLiveColumn, property.timeToLive() },
    };
    if (property.triggerEventName() && !property.triggerEventName()->isEmpty())
        record.insert(kTriggerEventNameColumn, *property.triggerEventName());
    const std::pair<const QString*, const std::optional<APMEvent>*> events[] = {
        { &kTriggeredEventColumn, &property.triggeredEvent() },
        { &kTimedOutEventColumn, &property.timedOutEvent() },
        { &kExpiredEventColumn, &property.expiredEvent() },
    };
    for (const auto& [column, event] : events) {
        if (!*event)
            continue;
        const QByteArray blob = eventBlob(**event);
        // Leaving the event out would lose it without a word.
        if (!APMCheckCondition(!blob.isEmpty(), error, APMError::InvalidArgument,
                QStringLiteral("Cannot create the conditional user property event blob")))
            return false;
        record.insert(*column, blob);
    }
    return upsertDataType(record, kConditionalPropertiesTable, kPropertiesNameColumn, property.name(),
        kConditionalPropertiesLimit, error);
}

bool APMDatabase::deleteConditionalUserPropertyWithName(const QString& name, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordFromTableWithName(kConditionalPropertiesTable, kPropertiesNameColumn, name, error);
}

std::optional<QList<APMConditionalUserProperty>> APMDatabase::timedOutConditionalUserPropertiesWithError(
    APMError* error)
{
    return conditionalUserPropertiesWithCondition(
        QStringLiteral("active=0 and abs(? - creation_timestamp) > trigger_timeout"), { clock().now() },
        error);
}

std::optional<QList<APMConditionalUserProperty>> APMDatabase::expiredConditionalUserPropertiesWithError(
    APMError* error)
{
    return conditionalUserPropertiesWithCondition(
        QStringLiteral("active=1 and abs(? - triggered_timestamp) > time_to_live"), { clock().now() }, error);
}

std::optional<QList<APMConditionalUserProperty>> APMDatabase::triggeredConditionalUserPropertiesWithEventName(
    const QString& eventName, APMError* error)
{
    if (!APMCheckCondition(!eventName.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral(
                "Received nil/empty event name for querying triggered conditional user properties")))
        return std::nullopt;
    return conditionalUserPropertiesWithCondition(
        QStringLiteral(
            "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout"),
        { eventName, clock().now() }, error);
}

std::optional<QList<APMConditionalUserProperty>> APMDatabase::conditionalUserPropertiesWithPrefix(
    const QString& prefix, const QString& origin, APMError* error)
{
    QStringList terms;
    QVariantList values;
    if (!origin.isEmpty()) {
        // The origin compares as a whole (ignoring ASCII case, as LIKE does);
        // its "_" and "%" are plain characters.
        terms.append(QStringLiteral("origin LIKE ? ESCAPE '\\'"));
        values.append(likePatternMatching(origin));
    }
    if (!prefix.isEmpty()) {
        // Names are exact keys: the prefix is compared character by character.
        terms.append(QStringLiteral("substr(name, 1, length(?)) = ?"));
        values.append(prefix);
        values.append(prefix);
    }
    if (terms.isEmpty())
        return conditionalUserPropertiesWithCondition(QStringLiteral("1 == 1"), {}, error);
    return conditionalUserPropertiesWithCondition(terms.join(QStringLiteral(" AND ")), values, error);
}

std::optional<QList<APMConditionalUserProperty>> APMDatabase::conditionalUserPropertiesWithCondition(
    const QString& condition, const QVariantList& parameterValues, APMError* error)
{
    if (!APMCheckCondition(!condition.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Received empty condition for querying a conditional user property")))
        return std::nullopt;
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto rows = store->recordsForQuery(
        QStringLiteral("SELECT rowid, * FROM %1 WHERE %2").arg(kConditionalPropertiesTable, condition),
        parameterValues, error);
    if (!rows)
        return std::nullopt;
    QList<APMConditionalUserProperty> properties;
    properties.reserve(rows->size());
    for (const APMRow& row : *rows) {
        auto property = conditionalUserPropertyFromRow(row, error);
        if (!property)
            return std::nullopt;
        properties.append(std::move(*property));
    }
    return properties;
}

// --- Main events of complex events ---

bool APMDatabase::updateComplexEventForAudienceEvaluationWithEventID(
    qint64 eventID, qint64 childEventCount, const APMEvent& mainEvent, APMError* error)
{
    const QByteArray blob = eventBlob(mainEvent);
    if (!APMCheckCondition(!blob.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("Cannot create the main event blob")))
        return false;
    const APMRecord record {
        { kMainEventColumn, blob },
        { kEventIDColumn, eventID },
        { kChildrenToProcessColumn, childEventCount },
    };
    return insertDataType(record, kMainEventParamsTable, error);
}

std::optional<std::pair<APMEvent, qint64>> APMDatabase::mainEventAndChildCountPairWithEventID(
    qint64 eventID, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    if (!store)
        return std::nullopt;
    const auto rows = store->recordsForQuery(
        QStringLiteral("SELECT * FROM %1 WHERE event_id=? LIMIT 1").arg(kMainEventParamsTable), { eventID },
        error);
    if (!rows || rows->isEmpty())
        return std::nullopt;
    const APMRow& row = rows->first();
    const QVariant blob = row.value(kMainEventColumn);
    const auto mainEvent = APMIsSqlValue(blob) ? eventFromBlob(blob, nullptr) : std::nullopt;
    if (!mainEvent) {
        APMSetErrorWithCode(
            error, APMError::StorageFailure, QStringLiteral("Main event blob is nil in database"));
        return std::nullopt;
    }
    const QVariant childCount = row.value(kChildrenToProcessColumn);
    if (childCount.typeId() != QMetaType::LongLong) {
        APMSetErrorWithCode(error, APMError::StorageFailure,
            QStringLiteral("Complex event does not have children count in database"));
        return std::nullopt;
    }
    return std::make_pair(*mainEvent, childCount.toLongLong());
}

bool APMDatabase::deleteComplexEventForAudienceEvaluationWithEventID(qint64 eventID, APMError* error)
{
    APMSqliteStore* store = openStore(error);
    return store
        && store->deleteRecordsFromTableWithName(
            kMainEventParamsTable, QStringLiteral("event_id=?"), { eventID }, error);
}
