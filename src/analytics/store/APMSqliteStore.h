#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

class APMError;

// Column declarations a table is ensured with, in order: [name, declaration]
// pairs such as ("name", "TEXT NOT NULL PRIMARY KEY"). A pair whose name is
// "PRIMARY KEY" is a table constraint whose declaration is the key list, for
// example "(audience_id, filter_id)".
using APMColumnInfo = QList<QPair<QString, QString>>;
// Column name to the declaration it should now have.
using APMModifyColumnInfo = QMap<QString, QString>;
// Column name to value. Values: QString, a number (integer kinds and bool bind
// as INTEGER, float kinds as REAL), QByteArray (a blob) or APMSqlNull(). A
// value of any other kind, NaN (which SQLite would turn into NULL) and an
// unsigned number past the signed 64-bit range are refused.
using APMRecord = QVariantMap;
// One result row: result-column name to its value, read by storage class.
using APMRow = QVariantMap;
// Decides whether a row (0-based index, row) is kept; false also ends the query.
using APMRowFilter = std::function<bool(quint32 index, const APMRow& row)>;

// The value that stands for SQL NULL in records and rows.
QVariant APMSqlNull();
bool APMIsSqlNull(const QVariant& value);
// A column that holds a value: read, and not NULL.
inline bool APMIsSqlValue(const QVariant& value) { return value.isValid() && !APMIsSqlNull(value); }

// One SQLite database file with table-level operations: opening with an
// integrity check (a corrupt file is deleted and recreated once), tables
// created and extended over versions, upserts, updates, deletes, counts and
// queries with bound values, exclusive transactions and a cache of prepared
// statements keyed by their SQL text.
//
// Failures answer false / nothing and fill the optional error with an error
// of the measurement domain: code 1 a bad argument, 2 a wrong state or schema
// (a closed database among them), 3 an SQLite or transaction failure.
//
// Not locked: one store is used from one serial queue at a time.
class APMSqliteStore {
public:
    // Nothing (with the error) when the file cannot be opened and validated.
    // A file SQLite finds damaged (corrupt, not a database, or an integrity
    // report other than "ok") is deleted with its journal files and opened
    // once more; a busy, locked or unreadable file is kept and the open fails.
    static std::unique_ptr<APMSqliteStore> initWithDatabasePath(const QString& path, APMError* error);
    ~APMSqliteStore();

    APMSqliteStore(const APMSqliteStore&) = delete;
    APMSqliteStore& operator=(const APMSqliteStore&) = delete;

    const QString& databasePath() const { return databasePath_; }
    sqlite3* sqliteHandle() const { return handle_; }

    void closeDatabase();
    // Closes the store for good and removes its file and the journal files
    // beside it (-journal, -wal, -shm); true when none is left.
    bool closeAndDeleteDatabase();

    // Tables.
    bool ensureTableWithNameModify(const QString& table, const APMColumnInfo& elementary,
        const APMColumnInfo& addOn, const APMModifyColumnInfo& modify, APMError* error);
    bool ensureTableWithName(
        const QString& table, const APMColumnInfo& elementary, const APMColumnInfo& addOn, APMError* error);
    // Rebuilds the table (through "<table>_old", in one transaction) when a
    // column it should have is declared with another type. Columns the
    // table has beyond the given ones do not force a rebuild; the rows are
    // copied by column name, so column order does not matter.
    bool ensureSchemaOfTableWithName(
        const QString& table, const APMColumnInfo& elementary, const APMColumnInfo& addOn, APMError* error);
    bool ensureTableWithNameCreateSQL(const QString& table, const QString& createSQL,
        const QStringList& requiredColumnNames, const QMap<QString, QString>& addOnColumns, APMError* error);
    std::optional<bool> validateTableWithName(const QString& table, const QStringList& requiredColumnNames,
        const QMap<QString, QString>& addOnColumns, APMError* error);
    std::optional<bool> tableExists(const QString& table, APMError* error);
    QStringList columnsForTableWithName(const QString& table, APMError* error);
    // Column name to declared type ("INTEGER" for "INTEGER NOT NULL PRIMARY KEY").
    QMap<QString, QString> columnInfoForTableWithName(const QString& table, APMError* error);
    bool dropTableWithName(const QString& table, APMError* error);
    bool renameTable(const QString& table, const QString& newName, APMError* error);
    bool copyContentsFromTable(const QString& source, const QString& destination, APMError* error);
    bool createEmptyTable(const QString& newTable, const QString& source, APMError* error);

    // Records.
    bool upsertRecord(const APMRecord& record, const QString& table, APMError* error);
    bool updateRecord(const APMRecord& record, const QString& table, const QString& columnName,
        const QVariant& columnValue, APMError* error);
    // Rows the last INSERT, UPDATE or DELETE on this connection touched.
    qint64 lastChangedRowCount() const;
    // The row ID of the last row this connection inserted (0 before any).
    qint64 lastInsertedRowID() const;
    bool updateAllRecordsInTableWithName(
        const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error);
    // Adds to an INTEGER column where the condition holds; the sum stops at
    // the ends of the 64-bit range instead of turning into a REAL.
    bool increaseColumn(const QString& column, qint64 value, const QString& table, const QString& condition,
        const QVariantList& parameterValues, APMError* error);
    bool deleteRecordFromTableWithName(
        const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error);
    // The number of deleted rows.
    std::optional<qint32> deleteRecordsFromTableWithName(
        const QString& table, const QString& condition, const QVariantList& parameterValues, APMError* error);
    bool deleteAllRecordsFromTableWithName(const QString& table, APMError* error);
    std::optional<qint64> rowCountForTableWithName(const QString& table, APMError* error);
    std::optional<qint64> rowCountForTableWithNameColumn(
        const QString& table, const QString& columnName, const QVariant& columnValue, APMError* error);
    // The rows of a SELECT; nothing on failure, including a step that fails
    // part way (the rows read until then are not answered as a success).
    std::optional<QList<APMRow>> recordsForQuery(
        const QString& query, const QVariantList& parameterValues, APMError* error);
    std::optional<QList<APMRow>> recordsForQueryWithFilter(const QString& query,
        const QVariantList& parameterValues, APMError* error, const APMRowFilter& filter);
    // Column 0 of the first row: a qint64 or double QVariant. An invalid
    // QVariant both for a NULL result (no error) and for a failure (error set);
    // `failed` tells them apart when given.
    QVariant numberForQuery(
        const QString& query, const QVariantList& parameterValues, APMError* error, bool* failed = nullptr);

    // Runs the block inside "BEGIN EXCLUSIVE TRANSACTION"; true from the block
    // ends it, false (or an exception, which is passed on) rolls it back.
    bool performTransactionWithError(APMError* error, const std::function<bool()>& block);
    bool beginTransaction();
    bool endTransaction();
    bool rollbackTransaction();

    // Called with the table's name after every change this connection makes
    // to a row or, emptying it, to a whole table; with nullptr after every
    // rollback and every statement run by executeSQL (it may change any
    // table). For a caller that keeps what it read. One observer per store.
    void setChangeObserver(std::function<void(const char* table)> changed);

    // PRAGMA data_version: it changes when another connection commits a
    // change to the file, never for this connection's own. Nothing on failure.
    std::optional<qint64> dataVersion();

    // Runs one statement that yields no rows (prepared for this use only).
    bool executeSQL(const QString& sql, APMError* error);
    // One write whose text the caller keeps, so that none is built per call
    // (the writes of every logged event), with the values bound in order;
    // the statement is kept for reuse like those of the record writes.
    bool executeStatementWithValues(const QString& sql, const QVariantList& values, APMError* error);

    // Statements prepared and kept for reuse (for tests and measurements).
    int cachedStatementCount() const { return static_cast<int>(statements_.size()); }

    // The SQLite result code of the latest database error this store
    // reported (0 when none), and whether a code says the environment (a
    // lock, the disk, permissions, memory) failed rather than the file's
    // content: such a failure is no reason to discard the file.
    int lastDatabaseErrorCode() const { return lastDatabaseErrorCode_; }
    void clearLastDatabaseErrorCode() { lastDatabaseErrorCode_ = 0; }
    static bool isEnvironmentResultCode(int resultCode);
    // Whether a value can be written to a column as it is (see APMRecord).
    static bool isBindableValue(const QVariant& value);

private:
    struct TableColumn {
        QString name;
        QString type;
        bool notNull = false;
    };

    explicit APMSqliteStore(QString path);

    // `corrupt` tells whether the failure showed a damaged file (SQLite's
    // corrupt or not-a-database answers, or an integrity report of problems).
    bool openAndValidateDatabase(APMError* error, bool* corrupt);
    bool validateDatabaseWithError(APMError* error, bool* corrupt);
    void finalizeAndClearStatements();
    // PRAGMA table_info; an empty list for a missing table, nothing on failure.
    std::optional<QList<TableColumn>> tableInfo(const QString& table, APMError* error);
    // One step of a cached statement that yields no rows.
    bool runCachedStatement(
        const QString& sql, const QVariantList& parameterValues, const QString& operation, APMError* error);

    sqlite3_stmt* statementForQuery(
        const QString& query, const QVariantList* parameterValues, APMError* error);
    void cleanUpStatement(sqlite3_stmt* statement, const QString& query);
    sqlite3_stmt* prepareSQL(const QString& sql, APMError* error);
    bool executeSQLStatement(sqlite3_stmt* statement, APMError* error);
    bool bindValues(const QVariantList& values, sqlite3_stmt* statement, APMError* error);
    QVariant valueAtColumn(int column, sqlite3_stmt* statement) const;

    QString lastErrorMessage() const;
    QString errorDescriptionForDatabaseOperation(const QString& operation) const;
    QString monitorContextForDatabaseOperation(const QString& operation) const;
    QString monitorContextForCode(const QString& operation, int resultCode) const;
    void setDatabaseError(APMError* error, const QString& operation) const;
    void setDatabaseErrorWithCode(
        APMError* error, const QString& operation, int resultCode, const QString& message) const;

    QString databasePath_;
    sqlite3* handle_ = nullptr;
    QHash<QString, sqlite3_stmt*> statements_;
    enum TransactionStatement { kBegin, kEnd, kRollback };
    bool runTransactionStatement(TransactionStatement which);
    sqlite3_stmt* transactionStatements_[3] = {};
    sqlite3_stmt* dataVersionStatement_ = nullptr;
    std::function<void(const char* table)> changeObserver_;
    void notifyChange(const char* table) const
    {
        if (changeObserver_)
            changeObserver_(table);
    }
    mutable int lastDatabaseErrorCode_ = 0;
};
