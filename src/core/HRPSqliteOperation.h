#pragma once

#include "core/HRPSqliteTool.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteRowModel.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <mutex>
#include <type_traits>
#include <utility>

// Stores row models in tables of one SQLite file: a table per model class,
// whose columns are the model's field names (untyped), rows written and read
// as text. Values are always bound; the only names placed into statements
// are table and column identifiers, quoted, and refused when empty or holding
// NUL.
//
// The connection opens on first use. When it cannot be opened the reason is
// logged once and every operation fails with that reason.
class HRPSqliteOperation {
public:
    using Completion = std::function<void(bool success, const QString& error)>;
    // Receives the models that were not written (see the batch operations).
    using BatchInsertCompletion = std::function<void(const QList<const SqliteRowModel*>& failed)>;
    using BatchUpdateCompletion
        = std::function<void(const QList<const SqliteRowModel*>& failed, const QString& error)>;
    // One row in column order: column name, then its text or an invalid QVariant for NULL.
    using Row = QList<QPair<QString, QVariant>>;

    // How the entries of a condition map are joined.
    enum SelectType { And = 0, Or = 1 };

    // The application's database, "MMmouseDataBase.sqlite" in the Documents folder.
    static HRPSqliteOperation& shareOperation();
    static QString defaultDatabasePath();

    explicit HRPSqliteOperation(const QString& databasePath);
    HRPSqliteOperation(const HRPSqliteOperation&) = delete;
    HRPSqliteOperation& operator=(const HRPSqliteOperation&) = delete;

    // What recoverIfDamaged() found and did.
    struct Recovery {
        enum class Outcome {
            Healthy, // readable and writable (or created fresh)
            MovedAside, // damaged: kept under keptAs, a fresh database took its place
            Unwritable, // cannot be created, written or moved aside; nothing was changed
        };
        Outcome outcome = Outcome::Healthy;
        QString reason; // why it was not healthy, in SQLite's words
        QString keptAs; // MovedAside: where the damaged file now lies
    };

    QString databasePath() const { return path_; }
    // Opens the database and checks that its schema reads and that it takes
    // a write. A file that is not a database, or a damaged one, is renamed
    // to a name no earlier file has ("<file>.damaged-<time>", with "-2", "-3"
    // ... when taken), its journal files with it, and a fresh database is
    // started at the path. A folder or file that cannot be written is only
    // reported: renaming a file nobody may write would not mend anything.
    Recovery recoverIfDamaged();
    // Opens the connection when it is not open yet; false (and the reason in
    // openError()) when the file cannot be opened.
    bool isOpen();
    QString openError();

    // Creates the table with one untyped column per field of the model, in
    // field order, unless a table of that name exists (then nothing changes).
    bool createTableWithtableName(const QString& tableName, const SqliteRowModel& model, QString* error = nullptr);
    // Deletes every row.
    bool cleanTableWithtableName(const QString& tableName);
    // Inserts the model's fields that have a value; the others stay NULL.
    void insertDataBaseWithtableName(
        const QString& tableName, const SqliteRowModel& model, const Completion& completed);

    // Every row as a new T, in table order; columns that T does not declare
    // are skipped. A failed query (a missing table, say) gives an empty list.
    template <typename T> QList<T> selectAllDataBaseWithtableName(const QString& tableName)
    {
        static_assert(std::is_base_of_v<SqliteRowModel, T>, "T must be a SqliteRowModel");
        QList<T> models;
        for (const Row& row : selectRows(tableName)) {
            T model;
            fillModel(model, row);
            models.append(std::move(model));
        }
        return models;
    }

    bool delectTableWithtableName(const QString& tableName);
    void delectAllDataBaseWithtableName(const QString& tableName, const Completion& completed);
    // Deletes the rows whose column fieldName equals value.
    void delectDataBaseWithtableName(const QString& tableName, const QString& fieldName,
        const QVariant& value, const Completion& completed);
    // Deletes the rows matching every (And) or any (Or) entry of column to
    // value; an entry whose value is nil matches NULL. An empty map or another
    // type is refused rather than deleting everything.
    void delectDataBaseWithtableNameByParameterSelectTypeCompleted(
        const QString& tableName, const QVariantMap& parameters, int selectType, const Completion& completed);
    // Sets the model's fields that have a value on the rows whose key column
    // holds the model's own value for it. The key must be one of the model's
    // fields and have a value.
    void updataTableWithtableName(const QString& tableName, const QString& fieldName,
        const SqliteRowModel& model, const Completion& completed);
    // Adds an integer column.
    void addNewPropertyWithtableName(
        const QString& tableName, const QString& propertyName, const Completion& completed);

    // Every row as column name to text (an invalid QVariant for NULL).
    QList<QVariantMap> selectAllDataBaseWithtableName(const QString& tableName);
    QList<QVariantMap> selectAllDataBaseWithtableNameByParameterSelectType(
        const QString& tableName, const QVariantMap& parameters, int selectType);

    // The batch operations run one at a time across the whole process. They
    // walk the models in order and stop at the first failure; the completion
    // is always called once, with the models that were not written: the one
    // that failed and every one after it (empty when all went in).
    void insertsDataBaseWithtableName(const QString& tableName, const QList<const SqliteRowModel*>& modelArr,
        const BatchInsertCompletion& completed);
    void updataTableWithtableNameFieldNameModelArrCompleted(const QString& tableName,
        const QString& fieldName, const QList<const SqliteRowModel*>& modelArr,
        const BatchUpdateCompletion& completed);
    // Replaces every row of the table with the models, in order, in one
    // transaction: on any failure the table keeps the rows it had.
    bool replaceAllDataBaseWithtableName(
        const QString& tableName, const QList<const SqliteRowModel*>& modelArr, QString* error = nullptr);

private:
    struct Outcome {
        bool success = false;
        QString error;
    };

    // Callers hold mutex_.
    SqliteDatabase* connection(QString* error);
    // The reason the schema cannot be read or written; nullopt when both work.
    std::optional<QString> probe(bool* damaged);
    bool moveAside(QString* keptAs, QString* error);
    Outcome run(const QString& sql, const QVariantList& params);
    bool whereClause(const QVariantMap& parameters, int selectType, QString* clause, QVariantList* params,
        QString* error) const;

    Outcome insertRow(const QString& tableName, const SqliteRowModel& model);
    Outcome updateRow(const QString& tableName, const QString& fieldName, const SqliteRowModel& model);
    QList<Row> selectRows(const QString& tableName);
    QList<Row> query(const QString& sql, const QVariantList& params);
    static void fillModel(SqliteRowModel& model, const Row& row);
    static QList<QVariantMap> toMaps(const QList<Row>& rows);
    static void report(const Completion& completed, const Outcome& outcome);

    const QString path_;
    std::mutex mutex_;
    SqliteDatabase database_;
    bool openTried_ = false;
    QString openError_;
};
