#include "core/SqliteStatement.h"

#include "platform/Utf8Text.h"

#include <limits>
#include <sqlite3.h>
#include <utility>

namespace {

QString messageOf(sqlite3_stmt* stmt)
{
    return QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt)));
}

} // namespace

SqliteStatement::SqliteStatement(sqlite3_stmt* stmt)
    : stmt_(stmt)
{
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(stmt_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr))
    , hasRow_(std::exchange(other.hasRow_, false))
    , error_(std::move(other.error_))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
        hasRow_ = std::exchange(other.hasRow_, false);
        error_ = std::move(other.error_);
    }
    return *this;
}

int SqliteStatement::parameterCount() const
{
    return stmt_ ? sqlite3_bind_parameter_count(stmt_) : 0;
}

bool SqliteStatement::validParameter(int index) const
{
    return stmt_ && index >= 1 && index <= sqlite3_bind_parameter_count(stmt_);
}

bool SqliteStatement::validColumn(int column) const
{
    return stmt_ && hasRow_ && column >= 0 && column < sqlite3_column_count(stmt_);
}

bool SqliteStatement::bound(int rc)
{
    if (rc == SQLITE_OK)
        return true;
    error_ = messageOf(stmt_);
    return false;
}

bool SqliteStatement::bindText(int index, const QString& value)
{
    if (!validParameter(index)) {
        error_ = QStringLiteral("parameter index %1 out of range").arg(index);
        return false;
    }
    const QByteArray utf8 = value.toUtf8();
    return bound(sqlite3_bind_text64(stmt_, index, utf8.constData(), static_cast<sqlite3_uint64>(utf8.size()),
        SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool SqliteStatement::bindInt64(int index, qint64 value)
{
    if (!validParameter(index)) {
        error_ = QStringLiteral("parameter index %1 out of range").arg(index);
        return false;
    }
    return bound(sqlite3_bind_int64(stmt_, index, value));
}

bool SqliteStatement::bindDouble(int index, double value)
{
    if (!validParameter(index)) {
        error_ = QStringLiteral("parameter index %1 out of range").arg(index);
        return false;
    }
    return bound(sqlite3_bind_double(stmt_, index, value));
}

bool SqliteStatement::bindBlob(int index, const QByteArray& value)
{
    if (!validParameter(index)) {
        error_ = QStringLiteral("parameter index %1 out of range").arg(index);
        return false;
    }
    // A zero-length blob is still a blob, not NULL.
    return bound(sqlite3_bind_blob64(
        stmt_, index, value.constData(), static_cast<sqlite3_uint64>(value.size()), SQLITE_TRANSIENT));
}

bool SqliteStatement::bindNull(int index)
{
    if (!validParameter(index)) {
        error_ = QStringLiteral("parameter index %1 out of range").arg(index);
        return false;
    }
    return bound(sqlite3_bind_null(stmt_, index));
}

bool SqliteStatement::bindValue(int index, const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return bindNull(index);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return bindInt64(index, value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
        return bindInt64(index, value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar: {
        const qulonglong u = value.toULongLong();
        if (u > static_cast<qulonglong>(std::numeric_limits<qint64>::max())) {
            error_ = QStringLiteral("unsigned value %1 does not fit a 64-bit integer").arg(u);
            return false;
        }
        return bindInt64(index, static_cast<qint64>(u));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return bindDouble(index, value.toDouble());
    case QMetaType::QByteArray:
        if (value.toByteArray().isNull())
            return bindNull(index);
        return bindBlob(index, value.toByteArray());
    case QMetaType::QString:
        if (value.toString().isNull())
            return bindNull(index);
        return bindText(index, value.toString());
    default:
        if (value.canConvert<QString>())
            return bindText(index, value.toString());
        error_
            = QStringLiteral("a value of type %1 cannot be bound").arg(QString::fromLatin1(value.typeName()));
        return false;
    }
}

SqliteStatement::Step SqliteStatement::step()
{
    if (!stmt_) {
        error_ = QStringLiteral("statement not prepared");
        return Step::Error;
    }
    const int rc = sqlite3_step(stmt_);
    hasRow_ = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW)
        return Step::Row;
    if (rc == SQLITE_DONE)
        return Step::Done;
    error_ = messageOf(stmt_);
    return Step::Error;
}

bool SqliteStatement::reset()
{
    if (!stmt_)
        return false;
    hasRow_ = false;
    // The result repeats the error of a failed last step; the reset itself
    // happens regardless.
    sqlite3_reset(stmt_);
    return true;
}

int SqliteStatement::columnCount() const
{
    return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

QString SqliteStatement::columnName(int column) const
{
    if (!stmt_ || column < 0 || column >= sqlite3_column_count(stmt_))
        return {};
    return QString::fromUtf8(sqlite3_column_name(stmt_, column));
}

bool SqliteStatement::columnIsNull(int column) const
{
    return !validColumn(column) || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

QString SqliteStatement::columnText(int column) const
{
    if (columnIsNull(column))
        return {};
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    if (!text || size <= 0)
        return QStringLiteral("");
    return platform::Utf8Text::decode(QByteArrayView(text, size));
}

qint64 SqliteStatement::columnInt64(int column) const
{
    return validColumn(column) ? sqlite3_column_int64(stmt_, column) : 0;
}

double SqliteStatement::columnDouble(int column) const
{
    return validColumn(column) ? sqlite3_column_double(stmt_, column) : 0.0;
}

QByteArray SqliteStatement::columnBlob(int column) const
{
    if (columnIsNull(column))
        return {};
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (!data || size <= 0)
        return QByteArray("");
    return QByteArray(static_cast<const char*>(data), size);
}

QVariant SqliteStatement::columnValue(int column) const
{
    if (!validColumn(column))
        return {};
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qint64>(sqlite3_column_int64(stmt_, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt_, column));
    case SQLITE_TEXT:
        return QVariant(columnText(column));
    case SQLITE_BLOB:
        return QVariant(columnBlob(column));
    default:
        return {};
    }
}

QString SqliteStatement::errorMessage() const
{
    return error_;
}
