#pragma once

#include "core/SqliteStatement.h"

#include <QString>
#include <QVariantList>

#include <optional>

struct sqlite3;

// One connection to an SQLite database file, closed when the object goes.
// Values always travel as bound parameters; the only text ever placed into a
// statement is an identifier passed through quoteIdentifier().
//
// Double-quoted words that name no column are identifiers here, never string
// literals (SQLite's legacy fallback is switched off on open), so a quoted
// column name that does not exist makes the statement fail instead of
// silently comparing against the name as text.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;

    // Opens (creating when missing) the file at path for reading and writing.
    // On failure the connection stays closed and error receives the reason.
    bool open(const QString& path, QString* error = nullptr);
    bool isOpen() const { return db_ != nullptr; }
    void close();

    // The last error message of the connection ("not open" when closed).
    QString lastErrorMessage() const;
    // The primary result code of the connection's last failure (SQLITE_NOTADB,
    // SQLITE_READONLY, ...); 0 when closed or nothing failed.
    int lastErrorCode() const;

    // Prepares exactly one statement; trailing statements are refused so that
    // a text can never smuggle a second command in.
    SqliteStatement prepare(const QString& sql, QString* error = nullptr);

    // Prepares sql, binds params to ?1, ?2, ... and steps it to the end.
    bool execute(const QString& sql, const QVariantList& params = {}, QString* error = nullptr);

    bool beginTransaction(QString* error = nullptr);
    bool commit(QString* error = nullptr);
    bool rollback(QString* error = nullptr);

    // Rows changed by the last insert, update or delete.
    int changes() const;
    qint64 lastInsertRowId() const;

    // The name as an SQL identifier: between double quotes, inner double
    // quotes doubled. Empty names and names holding NUL are refused.
    static std::optional<QString> quoteIdentifier(const QString& name);

private:
    sqlite3* db_ = nullptr;
};
