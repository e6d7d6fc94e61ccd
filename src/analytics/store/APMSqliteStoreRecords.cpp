#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/store/APMSqliteStore.h"

#include <limits>
#include <sqlite3.h>

// Writing, counting and reading rows.

namespace {

const QString kRecordsOpExecuteStatement = QStringLiteral("execute statement");
const QString kOpUpdateAllRecords = QStringLiteral("update all records value");
const QString kOpIncreaseRecords = QStringLiteral("increase records value");
const QString kOpDeleteRecord = QStringLiteral("delete record");
const QString kOpDeleteRecordsWithCondition = QStringLiteral("delete records with condition");
const QString kOpDeleteAllRecords = QStringLiteral("delete all records");
const QString kOpQueryNumericResult = QStringLiteral("query numeric result");
const QString kOpQueryRecords = QStringLiteral("query records");
const QString kIntegerType = QStringLiteral("INTEGER");
const QString kSelectPrefix = QStringLiteral("select");
const QString kEmptyUpsertRecordMessage = QStringLiteral("Received empty record for upsert");
const QString kEmptyUpsertTableMessage = QStringLiteral("Received empty table name for upsert");
const QString kUpsertNotOpen = QStringLiteral("Upsert record failed. Database not open.");
const QString kUpsertUnexpectedType
    = QStringLiteral("Failed to bind parameter of unexpected type to upsert statement");
const QString kEmptyUpdateRecordMessage = QStringLiteral("Empty record for update");
const QString kEmptyUpdateTableMessage = QStringLiteral("Empty table name for update");
const QString kEmptyUpdateColumn = QStringLiteral("Empty column name for update");
const QString kNilUpdateValue = QStringLiteral("Nil column value for update");
const QString kUpdateNotOpen = QStringLiteral("Update record failed. Database not open.");
const QString kUpdateUnexpectedType
    = QStringLiteral("Failed to bind parameter of unexpected type to update statement");
const QString kEmptyIncreaseTable = QStringLiteral("Empty table name for increase column");
const QString kEmptyIncreaseColumn = QStringLiteral("Empty column name for increase column");
const QString kEmptyIncreaseCondition = QStringLiteral("Empty condition for increase column");
const QString kIncreaseNotOpen = QStringLiteral("Increase column failed. Database not open.");
const QString kInvalidColumnOrTable = QStringLiteral("Invalid column or table name");
const QString kColumnNotInteger = QStringLiteral("Column type is not integer.");
const QString kEmptyDeleteTable = QStringLiteral("Received empty table name for delete record");
const QString kEmptyDeleteColumn = QStringLiteral("Received empty column for delete record");
const QString kNilDeleteValue = QStringLiteral("Received nil value for delete record");
const QString kDeleteNotOpen = QStringLiteral("Delete record failed. Database not open.");
const QString kEmptyDeleteCondition = QStringLiteral("Received empty condition for delete record");
const QString kDeleteConditionNotOpen
    = QStringLiteral("Delete records with condition failed. Database not open.");
const QString kEmptyDeleteAllTable = QStringLiteral("Received empty table name for delete all records");
const QString kDeleteAllNotOpen = QStringLiteral("Delete all records failed. Database not open.");
const QString kEmptyCountTable = QStringLiteral("Received empty table name for row count");
const QString kCountNotOpen = QStringLiteral("Row count failed. Database not open.");
const QString kEmptyNumericQuery = QStringLiteral("Received empty query to get numeric result");
const QString kNumericNotOpen = QStringLiteral("Query numeric result failed. Database not open.");
const QString kNotNumeric = QStringLiteral("Found result that was not numeric");
const QString kEmptyRecordsQuery = QStringLiteral("Received empty query for records for query");
const QString kEmptyFilter = QStringLiteral("Received empty filter for selecting records");
const QString kRecordsNotOpen = QStringLiteral("Query records failed. Database not open.");
const QString kInvalidSelect = QStringLiteral("Received invalid select query");
const QString kLogNoColumnName = QStringLiteral("Failed to get column name");
const QString kLogNilColumnValue = QStringLiteral("Value is nil for column");
const QString kLogAllFilteredOut = QStringLiteral("Database contains records that were all filtered out");
const QString kLogUnexpectedType = QStringLiteral("Record has value of unexpected type");
const QString kLogUnexpectedTypeUpdate = QStringLiteral("Record has value of unexpected type (update)");

} // namespace

// --- Records ---

bool APMSqliteStore::upsertRecord(const APMRecord& record, const QString& table, APMError* error)
{
    if (!APMCheckCondition(!record.isEmpty(), error, APMError::InvalidArgument, kEmptyUpsertRecordMessage)
        || !APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyUpsertTableMessage)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kUpsertNotOpen))
        return false;
    // The statement's text is built in one buffer: it is looked up in the
    // statement cache on every write.
    QString sql;
    sql.reserve(64 + table.size() + 24 * record.size());
    sql += QLatin1String("INSERT OR REPLACE INTO ");
    sql += table;
    sql += QLatin1String(" (");
    QVariantList values;
    values.reserve(record.size());
    for (auto it = record.constBegin(); it != record.constEnd(); ++it) {
        if (!isBindableValue(it.value())) {
            APMLibrary::monitor().logWithLevel(
                APMMonitor::kLevelWarningMonitored, 34020, kLogUnexpectedType);
            APMSetErrorWithCode(error, APMError::InvalidArgument, kUpsertUnexpectedType);
            return false;
        }
        if (!values.isEmpty())
            sql += QLatin1String(", ");
        sql += it.key();
        values << it.value();
    }
    sql += QLatin1String(") VALUES (");
    for (qsizetype i = 0; i < values.size(); ++i)
        sql += i == 0 ? QLatin1String("?") : QLatin1String(", ?");
    sql += QLatin1String(");");
    // A table's rows are written with the same columns over and over (one
    // raw event per logged event): the statement is kept for reuse.
    return runCachedStatement(sql, values, kRecordsOpExecuteStatement, error);
}

bool APMSqliteStore::updateRecord(const APMRecord& record, const QString& table, const QString& columnName,
    const QVariant& columnValue, APMError* error)
{
    if (!APMCheckCondition(!record.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateRecordMessage)
        || !APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateTableMessage)
        || !APMCheckCondition(!columnName.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateColumn)
        || !APMCheckCondition(columnValue.isValid(), error, APMError::InvalidArgument, kNilUpdateValue)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kUpdateNotOpen))
        return false;
    // Built in one buffer, as the upsert's.
    QString sql;
    sql.reserve(32 + table.size() + columnName.size() + 24 * record.size());
    sql += QLatin1String("UPDATE ");
    sql += table;
    sql += QLatin1String(" SET ");
    QVariantList values;
    values.reserve(record.size() + 1);
    for (auto it = record.constBegin(); it != record.constEnd(); ++it) {
        if (!isBindableValue(it.value())) {
            APMLibrary::monitor().logWithLevel(
                APMMonitor::kLevelWarningMonitored, 34021, kLogUnexpectedTypeUpdate);
            APMSetErrorWithCode(error, APMError::InvalidArgument, kUpdateUnexpectedType);
            return false;
        }
        if (!values.isEmpty())
            sql += QLatin1Char(',');
        sql += it.key();
        sql += QLatin1String("=?");
        values << it.value();
    }
    values << columnValue;
    sql += QLatin1String(" WHERE ");
    sql += columnName;
    sql += QLatin1String("=?");
    // The same rows are updated with the same columns over and over (the
    // daily counts once per logged event): the statement is kept for reuse.
    return runCachedStatement(sql, values, kRecordsOpExecuteStatement, error);
}

qint64 APMSqliteStore::lastChangedRowCount() const
{
    return handle_ ? sqlite3_changes64(handle_) : 0;
}

qint64 APMSqliteStore::lastInsertedRowID() const
{
    return handle_ ? sqlite3_last_insert_rowid(handle_) : 0;
}

bool APMSqliteStore::executeStatementWithValues(
    const QString& sql, const QVariantList& values, APMError* error)
{
    return runCachedStatement(sql, values, kRecordsOpExecuteStatement, error);
}

bool APMSqliteStore::runCachedStatement(
    const QString& sql, const QVariantList& parameterValues, const QString& operation, APMError* error)
{
    sqlite3_stmt* statement = statementForQuery(sql, &parameterValues, error);
    if (!statement)
        return false;
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done)
        setDatabaseError(error, operation);
    cleanUpStatement(statement, sql);
    return done;
}

bool APMSqliteStore::updateAllRecordsInTableWithName(
    const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateTableMessage)
        || !APMCheckCondition(!columnName.isEmpty(), error, APMError::InvalidArgument, kEmptyUpdateColumn)
        || !APMCheckCondition(columnValue.isValid(), error, APMError::InvalidArgument, kNilUpdateValue)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kUpdateNotOpen))
        return false;
    const QString sql = QStringLiteral("UPDATE %1 SET %2=?").arg(table, columnName);
    return runCachedStatement(sql, { columnValue }, kOpUpdateAllRecords, error);
}

bool APMSqliteStore::increaseColumn(const QString& column, qint64 value, const QString& table,
    const QString& condition, const QVariantList& parameterValues, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyIncreaseTable)
        || !APMCheckCondition(!column.isEmpty(), error, APMError::InvalidArgument, kEmptyIncreaseColumn)
        || !APMCheckCondition(!condition.isEmpty(), error, APMError::InvalidArgument, kEmptyIncreaseCondition)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kIncreaseNotOpen))
        return false;
    const QMap<QString, QString> info = columnInfoForTableWithName(table, error);
    const auto declared = info.constFind(column);
    if (!APMCheckCondition(
            declared != info.constEnd(), error, APMError::InvalidArgument, kInvalidColumnOrTable)
        || !APMCheckCondition(
            declared.value().toUpper() == kIntegerType, error, APMError::InvalidArgument, kColumnNotInteger))
        return false;
    // SQLite turns an integer sum that overflows into a REAL; the counter
    // stops at the end of the 64-bit range instead.
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const QString guarded = value >= 0 ? QStringLiteral("CASE WHEN %1 > %2 THEN %3 ELSE %1 + %4 END")
                                             .arg(column)
                                             .arg(max - value)
                                             .arg(max)
                                             .arg(value)
                                       : QStringLiteral("CASE WHEN %1 < %2 THEN %3 ELSE %1 + %4 END")
                                             .arg(column)
                                             .arg(min - value)
                                             .arg(min)
                                             .arg(value);
    const QString sql
        = QStringLiteral("UPDATE %1 SET %2 = %3 WHERE %4").arg(table, column, guarded, condition);
    return runCachedStatement(sql, parameterValues, kOpIncreaseRecords, error);
}

bool APMSqliteStore::deleteRecordFromTableWithName(
    const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyDeleteTable)
        || !APMCheckCondition(!columnName.isEmpty(), error, APMError::InvalidArgument, kEmptyDeleteColumn)
        || !APMCheckCondition(columnValue.isValid(), error, APMError::InvalidArgument, kNilDeleteValue)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kDeleteNotOpen))
        return false;
    // The same few keyed deletes come again and again (the session's
    // properties on every event after the session ended): the statement is
    // kept for reuse.
    return runCachedStatement(
        QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table, columnName), { columnValue }, kOpDeleteRecord, error);
}

std::optional<qint32> APMSqliteStore::deleteRecordsFromTableWithName(
    const QString& table, const QString& condition, const QVariantList& parameterValues, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyDeleteTable)
        || !APMCheckCondition(!condition.isEmpty(), error, APMError::InvalidArgument, kEmptyDeleteCondition)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kDeleteConditionNotOpen))
        return std::nullopt;
    const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, condition);
    if (!runCachedStatement(sql, parameterValues, kOpDeleteRecordsWithCondition, error))
        return std::nullopt;
    return static_cast<qint32>(sqlite3_changes(handle_));
}

bool APMSqliteStore::deleteAllRecordsFromTableWithName(const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyDeleteAllTable)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kDeleteAllNotOpen))
        return false;
    const bool done
        = runCachedStatement(QStringLiteral("DELETE FROM %1").arg(table), {}, kOpDeleteAllRecords, error);
    // SQLite empties a table without a word to the update hook.
    notifyChange(table.toUtf8().constData());
    return done;
}

std::optional<qint64> APMSqliteStore::rowCountForTableWithName(const QString& table, APMError* error)
{
    return rowCountForTableWithNameColumn(table, QString(), QVariant(), error);
}

std::optional<qint64> APMSqliteStore::rowCountForTableWithNameColumn(
    const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyCountTable)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kCountNotOpen))
        return std::nullopt;
    QString sql = QStringLiteral("SELECT count(1) FROM %1").arg(table);
    QVariantList parameters;
    if (!columnName.isEmpty() && columnValue.isValid()) {
        sql += QStringLiteral(" WHERE %1=?").arg(columnName);
        parameters << columnValue;
    }
    bool failed = false;
    const QVariant count = numberForQuery(sql, parameters, error, &failed);
    if (failed || !count.isValid())
        return std::nullopt;
    return count.toLongLong();
}

QVariant APMSqliteStore::numberForQuery(
    const QString& query, const QVariantList& parameterValues, APMError* error, bool* failed)
{
    bool failure = true;
    QVariant number;
    if (APMCheckCondition(!query.isEmpty(), error, APMError::InvalidArgument, kEmptyNumericQuery)
        && APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kNumericNotOpen)) {
        if (sqlite3_stmt* statement = statementForQuery(query, &parameterValues, error)) {
            if (sqlite3_step(statement) == SQLITE_ROW) {
                const QVariant value = valueAtColumn(0, statement);
                const int type = sqlite3_column_type(statement, 0);
                if (type == SQLITE_NULL) {
                    failure = false;
                } else if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
                    number = value;
                    failure = false;
                } else {
                    APMSetErrorWithCode(error, APMError::InvalidArgument, kNotNumeric);
                }
            } else {
                setDatabaseError(error, kOpQueryNumericResult);
            }
            cleanUpStatement(statement, query);
        }
    }
    if (failed)
        *failed = failure;
    return number;
}

std::optional<QList<APMRow>> APMSqliteStore::recordsForQuery(
    const QString& query, const QVariantList& parameterValues, APMError* error)
{
    return recordsForQueryWithFilter(
        query, parameterValues, error, [](quint32, const APMRow&) { return true; });
}

std::optional<QList<APMRow>> APMSqliteStore::recordsForQueryWithFilter(
    const QString& query, const QVariantList& parameterValues, APMError* error, const APMRowFilter& filter)
{
    if (!APMCheckCondition(!query.isEmpty(), error, APMError::InvalidArgument, kEmptyRecordsQuery)
        || !APMCheckCondition(bool(filter), error, APMError::InvalidArgument, kEmptyFilter)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kRecordsNotOpen)
        || !APMCheckCondition(query.startsWith(kSelectPrefix, Qt::CaseInsensitive), error,
            APMError::InvalidArgument, kInvalidSelect))
        return std::nullopt;
    sqlite3_stmt* statement = statementForQuery(query, &parameterValues, error);
    if (!statement)
        return std::nullopt;
    QList<APMRow> rows;
    quint32 index = 0;
    bool anyRead = false;
    bool stoppedByFilter = false;
    int result = SQLITE_OK;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        anyRead = true;
        APMRow row;
        const int columns = sqlite3_column_count(statement);
        for (int column = 0; column < columns; ++column) {
            const char* name = sqlite3_column_name(statement, column);
            if (!name) {
                APMLibrary::monitor().logWithLevel(
                    APMMonitor::kLevelWarningMonitored, 34003, kLogNoColumnName);
                continue;
            }
            const QString columnName = QString::fromUtf8(name);
            const QVariant value = valueAtColumn(column, statement);
            if (!value.isValid()) {
                APMLibrary::monitor().logWithLevel(
                    APMMonitor::kLevelWarningMonitored, 34004, kLogNilColumnValue, columnName);
                continue;
            }
            row.insert(columnName, value);
        }
        if (!filter(index, row)) {
            stoppedByFilter = true;
            break;
        }
        rows.append(row);
        ++index;
    }
    // A step that fails part way must not pass for the end of the rows.
    const bool failedStep = !stoppedByFilter && result != SQLITE_DONE;
    if (failedStep)
        setDatabaseError(error, kOpQueryRecords);
    cleanUpStatement(statement, query);
    if (failedStep)
        return std::nullopt;
    if (anyRead && rows.isEmpty())
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 34005, kLogAllFilteredOut);
    return rows;
}
