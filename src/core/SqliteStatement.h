#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3_stmt;

// A prepared statement, finalised when the object goes. Obtained from
// SqliteDatabase::prepare(); an invalid statement (failed prepare) refuses
// every call. Parameter indexes start at 1, column indexes at 0; an index out
// of range fails (binds) or reads as NULL (columns) instead of reaching SQLite.
class SqliteStatement {
public:
    enum class Step { Row, Done, Error };

    SqliteStatement() = default;
    explicit SqliteStatement(sqlite3_stmt* stmt);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;

    bool isValid() const { return stmt_ != nullptr; }
    int parameterCount() const;

    bool bindText(int index, const QString& value);
    bool bindInt64(int index, qint64 value);
    bool bindDouble(int index, double value);
    bool bindBlob(int index, const QByteArray& value);
    bool bindNull(int index);
    // By the value's kind: invalid or null → NULL, bool and integers → int64,
    // real → double, QByteArray → blob, anything with a text form → text.
    // Unsigned values beyond the int64 range and values without a text form fail.
    bool bindValue(int index, const QVariant& value);

    Step step();
    // Back to before the first step, also after a failed step; bindings are
    // kept. False only for an invalid statement.
    bool reset();

    int columnCount() const;
    QString columnName(int column) const;
    bool columnIsNull(int column) const;
    // NULL reads as a null QString; an empty text as an empty, non-null one.
    QString columnText(int column) const;
    qint64 columnInt64(int column) const;
    double columnDouble(int column) const;
    QByteArray columnBlob(int column) const;
    // By the stored kind: NULL → invalid QVariant, integer → qint64,
    // real → double, text → QString, blob → QByteArray.
    QVariant columnValue(int column) const;

    QString errorMessage() const;

private:
    bool validParameter(int index) const;
    bool validColumn(int column) const;
    bool bound(int rc);

    sqlite3_stmt* stmt_ = nullptr;
    bool hasRow_ = false;
    QString error_;
};
