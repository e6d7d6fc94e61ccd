#include "analytics/base/APMError.h"
#include "analytics/store/APMSqliteStore.h"

#include <sqlite3.h>

// Creating, checking and changing tables.

namespace {

const QString kOpTableExists = QStringLiteral("table exists");
const QString kOpTableInfo = QStringLiteral("table info");
const QString kTableExistsSQL
    = QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=?");
const QString kTableInfoSQL = QStringLiteral("PRAGMA table_info(%1)");
const QString kPrimaryKey = QStringLiteral("PRIMARY KEY");
const QString kOldTableSuffix = QStringLiteral("_old");
const QString kEmptyExistsTable = QStringLiteral("Received empty table name for table exists");
const QString kExistsNotOpen = QStringLiteral("Table exists failed. Database not open.");
const QString kEmptyColumnsTable = QStringLiteral("Received empty table name for get columns");
const QString kColumnsNotOpen = QStringLiteral("Get table columns failed. Database not open.");
const QString kEmptyColumnInfoTable = QStringLiteral("Received empty table name for column info");
const QString kColumnInfoNotOpen = QStringLiteral("Get table column info failed. Database not open.");
const QString kEmptyDropTable = QStringLiteral("Received empty table name for drop table");
const QString kEmptyRenameOld = QStringLiteral("Received empty old name for rename table");
const QString kEmptyRenameNew = QStringLiteral("Received empty new name for rename table");
const QString kDuplicateRename = QStringLiteral("Received duplicate name for rename table");
const QString kEmptyCopySource = QStringLiteral("Received empty source name for copy table");
const QString kEmptyCopyDestination = QStringLiteral("Received empty destination name for copy table");
const QString kDuplicateCopy = QStringLiteral("Received duplicate name for copy table");
const QString kEmptyCreateCopySource = QStringLiteral("Received empty source name for create empty copy");
const QString kEmptyCreateCopyDestination
    = QStringLiteral("Received empty destination name for create empty copy");
const QString kDuplicateCreateCopy = QStringLiteral("Received duplicate name for create empty copy");
const QString kEmptyEnsureTable = QStringLiteral("Received empty table name for ensure table");
const QString kEmptyElementary = QStringLiteral("Received empty elementary column info for ensure table");
const QString kNoCreateStatement = QStringLiteral("Failed to create statement for table");
const QString kNoAlterStatement = QStringLiteral("Failed to create alter statement for table");
const QString kNoEnsureColumns = QStringLiteral("Received no table columns for ensure table");
const QString kEmptyCreateSQL = QStringLiteral("Received empty create statement for ensure table");
const QString kEnsureNotOpen = QStringLiteral("Ensure table failed. Database not open.");
const QString kEmptyValidateTable = QStringLiteral("Received empty table name for validate table");
const QString kNoValidateColumns = QStringLiteral("Received no table columns for validate table");
const QString kValidateTableNotOpen = QStringLiteral("Validate table failed. Database not open.");
const QString kTableNotFound = QStringLiteral("Validate table failed. Table has no columns.");
const QString kMissingRequired = QStringLiteral("Table is missing required columns");
const QString kUnknownNonOptional = QStringLiteral("Table contains unknown non-optional columns");
const QString kEmptySchemaTable = QStringLiteral("Received empty table name for ensure table schema");
const QString kEmptySchemaInfo = QStringLiteral("Received empty column info for ensure table schema");
const QString kNoSchemaTable = QStringLiteral("Table does not exist for ensure table schema");

} // namespace

// --- Tables ---

std::optional<bool> APMSqliteStore::tableExists(const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyExistsTable)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kExistsNotOpen))
        return std::nullopt;
    sqlite3_stmt* statement = prepareSQL(kTableExistsSQL, error);
    if (!statement)
        return std::nullopt;
    if (!bindValues({ table }, statement, error)) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    const int result = sqlite3_step(statement);
    std::optional<bool> exists;
    if (result == SQLITE_ROW || result == SQLITE_DONE)
        exists = result == SQLITE_ROW;
    else
        setDatabaseError(error, kOpTableExists);
    sqlite3_finalize(statement);
    return exists;
}

std::optional<QList<APMSqliteStore::TableColumn>> APMSqliteStore::tableInfo(
    const QString& table, APMError* error)
{
    sqlite3_stmt* statement = prepareSQL(kTableInfoSQL.arg(table), error);
    if (!statement)
        return std::nullopt;
    QList<TableColumn> columns;
    int result = SQLITE_OK;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
        columns.append({ name ? QString::fromUtf8(name) : QString(),
            type ? QString::fromUtf8(type) : QString(), sqlite3_column_int(statement, 3) != 0 });
    }
    if (result != SQLITE_DONE) {
        setDatabaseError(error, kOpTableInfo);
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    sqlite3_finalize(statement);
    return columns;
}

QStringList APMSqliteStore::columnsForTableWithName(const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyColumnsTable)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kColumnsNotOpen))
        return {};
    QStringList names;
    for (const TableColumn& column : tableInfo(table, error).value_or(QList<TableColumn>())) {
        if (!column.name.isEmpty())
            names << column.name;
    }
    return names;
}

QMap<QString, QString> APMSqliteStore::columnInfoForTableWithName(const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyColumnInfoTable)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kColumnInfoNotOpen))
        return {};
    QMap<QString, QString> types;
    for (const TableColumn& column : tableInfo(table, error).value_or(QList<TableColumn>())) {
        if (!column.name.isEmpty() && !column.type.isEmpty())
            types.insert(column.name, column.type);
    }
    return types;
}

bool APMSqliteStore::dropTableWithName(const QString& table, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyDropTable))
        return false;
    return executeSQL(QStringLiteral("DROP TABLE %1").arg(table), error);
}

bool APMSqliteStore::renameTable(const QString& table, const QString& newName, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyRenameOld)
        || !APMCheckCondition(!newName.isEmpty(), error, APMError::InvalidArgument, kEmptyRenameNew)
        || !APMCheckCondition(table != newName, error, APMError::InvalidArgument, kDuplicateRename))
        return false;
    return executeSQL(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(table, newName), error);
}

bool APMSqliteStore::copyContentsFromTable(const QString& source, const QString& destination, APMError* error)
{
    if (!APMCheckCondition(!source.isEmpty(), error, APMError::InvalidArgument, kEmptyCopySource)
        || !APMCheckCondition(!destination.isEmpty(), error, APMError::InvalidArgument, kEmptyCopyDestination)
        || !APMCheckCondition(source != destination, error, APMError::InvalidArgument, kDuplicateCopy))
        return false;
    return executeSQL(QStringLiteral("INSERT INTO %1 SELECT * FROM %2").arg(destination, source), error);
}

bool APMSqliteStore::createEmptyTable(const QString& newTable, const QString& source, APMError* error)
{
    if (!APMCheckCondition(!source.isEmpty(), error, APMError::InvalidArgument, kEmptyCreateCopySource)
        || !APMCheckCondition(
            !newTable.isEmpty(), error, APMError::InvalidArgument, kEmptyCreateCopyDestination)
        || !APMCheckCondition(source != newTable, error, APMError::InvalidArgument, kDuplicateCreateCopy))
        return false;
    return executeSQL(
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 AS SELECT * FROM %2 WHERE false").arg(newTable, source),
        error);
}

bool APMSqliteStore::ensureTableWithNameModify(const QString& table, const APMColumnInfo& elementary,
    const APMColumnInfo& addOn, const APMModifyColumnInfo& modify, APMError* error)
{
    if (!ensureTableWithName(table, elementary, addOn, error))
        return false;
    if (modify.isEmpty())
        return true;
    const auto modified = [&modify](const APMColumnInfo& info) {
        APMColumnInfo result;
        for (const auto& entry : info) {
            if (entry.first == kPrimaryKey)
                continue;
            result.append({ entry.first, modify.value(entry.first, entry.second) });
        }
        return result;
    };
    return ensureSchemaOfTableWithName(table, modified(elementary), modified(addOn), error);
}

bool APMSqliteStore::ensureTableWithName(
    const QString& table, const APMColumnInfo& elementary, const APMColumnInfo& addOn, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyEnsureTable)
        || !APMCheckCondition(!elementary.isEmpty(), error, APMError::InvalidArgument, kEmptyElementary))
        return false;
    QStringList definitions;
    QStringList required;
    for (const auto& entry : elementary) {
        definitions << entry.first + QLatin1Char(' ') + entry.second;
        if (entry.first != kPrimaryKey)
            required << entry.first;
    }
    const QString createSQL = QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ( %2);")
                                  .arg(table, definitions.join(QStringLiteral(", ")));
    if (!APMCheckCondition(!createSQL.isEmpty(), error, APMError::InvalidState, kNoCreateStatement))
        return false;
    QMap<QString, QString> addOnColumns;
    for (const auto& entry : addOn) {
        if (entry.first.isEmpty())
            continue;
        const QString alter
            = QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, entry.first, entry.second);
        if (!APMCheckCondition(!alter.isEmpty(), error, APMError::InvalidState, kNoAlterStatement))
            return false;
        addOnColumns.insert(entry.first, alter);
    }
    return ensureTableWithNameCreateSQL(table, createSQL, required, addOnColumns, error);
}

bool APMSqliteStore::ensureTableWithNameCreateSQL(const QString& table, const QString& createSQL,
    const QStringList& requiredColumnNames, const QMap<QString, QString>& addOnColumns, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyEnsureTable)
        || !APMCheckCondition(
            !requiredColumnNames.isEmpty(), error, APMError::InvalidArgument, kNoEnsureColumns)
        || !APMCheckCondition(!createSQL.isEmpty(), error, APMError::InvalidArgument, kEmptyCreateSQL)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kEnsureNotOpen))
        return false;
    const std::optional<bool> exists = tableExists(table, error);
    if (!exists)
        return false;
    if (!*exists && !executeSQL(createSQL, error))
        return false;
    return validateTableWithName(table, requiredColumnNames, addOnColumns, error).value_or(false);
}

std::optional<bool> APMSqliteStore::validateTableWithName(const QString& table,
    const QStringList& requiredColumnNames, const QMap<QString, QString>& addOnColumns, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptyValidateTable)
        || !APMCheckCondition(
            !requiredColumnNames.isEmpty(), error, APMError::InvalidArgument, kNoValidateColumns)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kValidateTableNotOpen))
        return std::nullopt;
    const std::optional<QList<TableColumn>> present = tableInfo(table, error);
    if (!present)
        return std::nullopt;
    if (present->isEmpty()) {
        APMSetErrorWithCode(error, APMError::InvalidState, kTableNotFound);
        return std::nullopt;
    }
    QStringList extras;
    for (const TableColumn& column : *present)
        extras << column.name;
    for (const QString& name : requiredColumnNames) {
        if (!extras.contains(name)) {
            APMSetErrorWithCode(error, APMError::InvalidState, kMissingRequired);
            return false;
        }
    }
    for (const QString& name : requiredColumnNames)
        extras.removeAll(name);
    for (auto it = addOnColumns.constBegin(); it != addOnColumns.constEnd(); ++it) {
        if (extras.contains(it.key()))
            extras.removeAll(it.key());
        else if (!executeSQL(it.value(), error))
            return false;
    }
    for (const TableColumn& column : *present) {
        if (column.notNull && extras.contains(column.name)) {
            APMSetErrorWithCode(error, APMError::InvalidState, kUnknownNonOptional);
            return false;
        }
    }
    return true;
}

bool APMSqliteStore::ensureSchemaOfTableWithName(
    const QString& table, const APMColumnInfo& elementary, const APMColumnInfo& addOn, APMError* error)
{
    if (!APMCheckCondition(!table.isEmpty(), error, APMError::InvalidArgument, kEmptySchemaTable)
        || !APMCheckCondition(!elementary.isEmpty(), error, APMError::InvalidArgument, kEmptySchemaInfo))
        return false;
    const QMap<QString, QString> current = columnInfoForTableWithName(table, error);
    if (!APMCheckCondition(!current.isEmpty(), error, APMError::InvalidState, kNoSchemaTable))
        return false;
    QMap<QString, QString> expected;
    for (const auto& entry : elementary) {
        const QString type = entry.second.section(QLatin1Char(' '), 0, 0);
        if (entry.first != kPrimaryKey && !entry.first.isEmpty() && !type.isEmpty())
            expected.insert(entry.first, type);
    }
    for (const auto& entry : addOn) {
        if (!entry.first.isEmpty() && !entry.second.isEmpty())
            expected.insert(entry.first, entry.second);
    }
    // Only the columns this version knows are compared: an extra nullable
    // column is tolerated by validation and must not force a rebuild.
    bool equal = true;
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        if (current.value(it.key()) != it.value()) {
            equal = false;
            break;
        }
    }
    if (equal)
        return true;
    const QString oldTable = table + kOldTableSuffix;
    // The transaction reports the failure ("Transaction failed"); what the
    // step said is of no use to the caller beyond that.
    APMError stepError;
    return performTransactionWithError(error, [&] {
        if (!renameTable(table, oldTable, &stepError)
            || !ensureTableWithName(table, elementary, addOn, &stepError))
            return false;
        // Copy by name, so that column order and columns this version does
        // not know cannot misplace or lose the rows.
        QStringList shared;
        for (const QString& column : columnsForTableWithName(table, &stepError)) {
            if (current.contains(column))
                shared << column;
        }
        const QString columns = shared.join(QStringLiteral(", "));
        return !shared.isEmpty()
            && executeSQL(
                QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3").arg(table, columns, oldTable),
                &stepError)
            && dropTableWithName(oldTable, &stepError);
    });
}
