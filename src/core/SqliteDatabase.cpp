#include "core/SqliteDatabase.h"

#include <sqlite3.h>
#include <utility>

namespace {

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

} // namespace

SqliteDatabase::~SqliteDatabase()
{
    close();
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : db_(std::exchange(other.db_, nullptr))
{
}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept
{
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

bool SqliteDatabase::open(const QString& path, QString* error)
{
    close();
    if (path.isEmpty() || path.contains(QChar(0))) {
        setError(error, QStringLiteral("invalid database path"));
        return false;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        // Even a failed open can hand back a handle that carries the message.
        setError(error, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)));
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    db_ = db;
    return true;
}

void SqliteDatabase::close()
{
    // close_v2 waits for statements still alive instead of failing.
    sqlite3_close_v2(std::exchange(db_, nullptr));
}

QString SqliteDatabase::lastErrorMessage() const
{
    if (!db_)
        return QStringLiteral("database not open");
    return QString::fromUtf8(sqlite3_errmsg(db_));
}

int SqliteDatabase::lastErrorCode() const
{
    return db_ ? (sqlite3_errcode(db_) & 0xFF) : 0;
}

SqliteStatement SqliteDatabase::prepare(const QString& sql, QString* error)
{
    if (!db_) {
        setError(error, lastErrorMessage());
        return {};
    }
    const QByteArray utf8 = sql.toUtf8();
    const char* const end = utf8.constData() + utf8.size();
    const char* tail = nullptr;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, utf8.constData(), static_cast<int>(utf8.size()), &raw, &tail) != SQLITE_OK) {
        setError(error, lastErrorMessage());
        sqlite3_finalize(raw);
        return {};
    }
    SqliteStatement statement(raw);
    if (!raw) {
        setError(error, QStringLiteral("no statement in the SQL text"));
        return {};
    }
    // What follows the first statement may only be blanks, semicolons and comments.
    while (tail && tail < end) {
        sqlite3_stmt* extra = nullptr;
        const char* next = nullptr;
        const int rc = sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), &extra, &next);
        sqlite3_finalize(extra);
        if (rc != SQLITE_OK || extra) {
            setError(error, QStringLiteral("only one statement may be prepared at a time"));
            return {};
        }
        if (next == tail)
            break;
        tail = next;
    }
    return statement;
}

bool SqliteDatabase::execute(const QString& sql, const QVariantList& params, QString* error)
{
    SqliteStatement statement = prepare(sql, error);
    if (!statement.isValid())
        return false;
    if (params.size() != statement.parameterCount()) {
        setError(error,
            QStringLiteral("%1 values for %2 parameters").arg(params.size()).arg(statement.parameterCount()));
        return false;
    }
    for (int i = 0; i < params.size(); ++i) {
        if (!statement.bindValue(i + 1, params.at(i))) {
            setError(error, statement.errorMessage());
            return false;
        }
    }
    for (;;) {
        switch (statement.step()) {
        case SqliteStatement::Step::Row:
            continue;
        case SqliteStatement::Step::Done:
            return true;
        case SqliteStatement::Step::Error:
            setError(error, statement.errorMessage());
            return false;
        }
    }
}

bool SqliteDatabase::beginTransaction(QString* error)
{
    return execute(QStringLiteral("BEGIN IMMEDIATE"), {}, error);
}

bool SqliteDatabase::commit(QString* error)
{
    return execute(QStringLiteral("COMMIT"), {}, error);
}

bool SqliteDatabase::rollback(QString* error)
{
    return execute(QStringLiteral("ROLLBACK"), {}, error);
}

int SqliteDatabase::changes() const
{
    return db_ ? sqlite3_changes(db_) : 0;
}

qint64 SqliteDatabase::lastInsertRowId() const
{
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

std::optional<QString> SqliteDatabase::quoteIdentifier(const QString& name)
{
    if (name.isEmpty() || name.contains(QChar(0)))
        return std::nullopt;
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
