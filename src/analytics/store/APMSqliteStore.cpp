#include "analytics/store/APMSqliteStore.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"
#include "platform/Utf8Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>
#include <sqlite3.h>

namespace {

// Operation names carried by database errors.
const QString kOpInitializeHandle = QStringLiteral("initialize sqlite handle");
const QString kOpValidateDatabase = QStringLiteral("validate database");
const QString kOpPrepareStatement = QStringLiteral("prepare statement");
const QString kOpExecuteStatement = QStringLiteral("execute statement");
const QString kOpBindValues = QStringLiteral("bind values");
const QString kUnknownOperation = QStringLiteral("Unknown operation");

const QString kDatabaseErrorFormat
    = QStringLiteral("Database operation \"%1\" failed with sqlite code %2 and error message \"%3\"");
const QString kWritableMark = QStringLiteral("A");
const QString kNotWritableMark = QStringLiteral("NA");
const QString kUnexpectedValueTypeMessage = QStringLiteral("unexpected value type");

const QString kIntegrityCheckSQL = QStringLiteral("PRAGMA integrity_check");
const QString kIntegrityOk = QStringLiteral("ok");
const char kBeginTransactionSQL[] = "BEGIN EXCLUSIVE TRANSACTION";
const char kEndTransactionSQL[] = "END TRANSACTION";
const char kRollbackSQL[] = "ROLLBACK";
const char kDataVersionSQL[] = "PRAGMA data_version";
const QString kWhere = QStringLiteral("WHERE");

// Files SQLite keeps beside the database; a leftover journal would be played
// back into a new file of the same name.
const QStringList kSidecarSuffixes
    = { QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm") };

// Argument and state errors.
const QString kEmptyPath = QStringLiteral("Received empty database path on init");
const QString kMakeDirectoryFailed = QStringLiteral("Failed to create the database directory");
const QString kValidateNotOpen = QStringLiteral("Validate database failed. Database not open.");
const QString kStatementNotOpen = QStringLiteral("Statement for query failed. Database not open.");
const QString kEmptyParameters = QStringLiteral("Received empty parameters");
const QString kEmptyPrepare = QStringLiteral("Received empty SQL string to prepare");
const QString kPrepareNotOpen = QStringLiteral("Prepare SQL failed. Database not open.");
const QString kMoreThanOneStatement = QStringLiteral("Query contained more than one SQL statement.");
const QString kEmptyExecute = QStringLiteral("Received empty SQL string to execute");
const QString kExecuteNotOpen = QStringLiteral("Execute SQL failed. Database not open.");
const QString kNullStatement = QStringLiteral("Execute SQL statement failed. Statement is NULL.");
const QString kExecuteStatementNotOpen = QStringLiteral("Execute SQL statement failed. Database not open.");
const QString kBindNullStatement = QStringLiteral("Failed to bind to NULL statement");
const QString kNilBlock = QStringLiteral("Received nil transaction block");
const QString kTransactionNotOpen = QStringLiteral("Database not open");
const QString kBeginFailed = QStringLiteral("Failed to begin transaction");
const QString kTransactionFailed = QStringLiteral("Transaction failed");
const QString kEndFailed = QStringLiteral("Failed to end transaction");

// Monitor messages.
const QString kLogRollbackAfterException = QStringLiteral("Failed to rollback transaction after exception");
const QString kLogRollbackFailed = QStringLiteral("Failed to rollback transaction");
const QString kLogCloseFailed = QStringLiteral("Failed to close database. Got error code");
const QString kLogDeleteFailed = QStringLiteral("Failed to delete database. Error");
const QString kLogStatementMismatch = QStringLiteral("Statement is not the same one in the cache");

APMMonitor& storeMonitor()
{
    return APMLibrary::monitor();
}

// How a value is written to a column, decided by its kind.
enum class ValueKind { Text, Blob, Integer, Real, Null, Unsupported };

ValueKind kindOfValue(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return ValueKind::Text;
    case QMetaType::QByteArray:
        return ValueKind::Blob;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return ValueKind::Integer;
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        // Past the signed 64-bit range the value has no faithful column value.
        return value.toULongLong() <= static_cast<qulonglong>(std::numeric_limits<qint64>::max())
            ? ValueKind::Integer
            : ValueKind::Unsupported;
    case QMetaType::Double:
    case QMetaType::Float:
        // SQLite would store NaN as NULL, silently.
        return std::isnan(value.toDouble()) ? ValueKind::Unsupported : ValueKind::Real;
    case QMetaType::Nullptr:
        return ValueKind::Null;
    default:
        return ValueKind::Unsupported;
    }
}

bool containsWhere(const QString& sql)
{
    return sql.contains(kWhere, Qt::CaseInsensitive);
}

} // namespace

QVariant APMSqlNull()
{
    return QVariant::fromValue(nullptr);
}

bool APMIsSqlNull(const QVariant& value)
{
    return value.metaType().id() == QMetaType::Nullptr;
}

// --- Life cycle ---

APMSqliteStore::APMSqliteStore(QString path)
    : databasePath_(std::move(path))
{
}

APMSqliteStore::~APMSqliteStore()
{
    closeDatabase();
}

std::unique_ptr<APMSqliteStore> APMSqliteStore::initWithDatabasePath(const QString& path, APMError* error)
{
    if (!APMCheckCondition(!path.isEmpty(), error, APMError::InvalidArgument, kEmptyPath))
        return nullptr;
    std::unique_ptr<APMSqliteStore> store(new APMSqliteStore(path));
    bool corrupt = false;
    if (store->openAndValidateDatabase(error, &corrupt))
        return store;
    // Only a file SQLite calls damaged is thrown away; a busy, locked or
    // unreadable file keeps its data and the open fails.
    if (!corrupt || !store->closeAndDeleteDatabase())
        return nullptr;
    if (store->openAndValidateDatabase(error, &corrupt))
        return store;
    return nullptr;
}

bool APMSqliteStore::openAndValidateDatabase(APMError* error, bool* corrupt)
{
    *corrupt = false;
    const QFileInfo info(databasePath_);
    if (!info.exists()) {
        if (!QDir().mkpath(info.absolutePath())) {
            APMSetErrorWithCode(error, APMError::InvalidState, kMakeDirectoryFailed);
            return false;
        }
    }
    const QByteArray path = QFile::encodeName(databasePath_);
    sqlite3* handle = nullptr;
    const int result = sqlite3_open_v2(path.constData(), &handle,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    handle_ = handle;
    if (result != SQLITE_OK) {
        if (handle_)
            setDatabaseError(error, kOpInitializeHandle);
        else
            setDatabaseErrorWithCode(
                error, kOpInitializeHandle, result, QString::fromUtf8(sqlite3_errstr(result)));
        closeDatabase();
        return false;
    }
    if (!validateDatabaseWithError(error, corrupt)) {
        closeDatabase();
        return false;
    }
    return true;
}

bool APMSqliteStore::validateDatabaseWithError(APMError* error, bool* corrupt)
{
    if (!APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kValidateNotOpen))
        return false;
    const auto isCorruptCode = [](int code) {
        const int primary = code & 0xff;
        return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
    };
    sqlite3_stmt* statement = nullptr;
    const QByteArray sql = kIntegrityCheckSQL.toUtf8();
    int result = sqlite3_prepare_v2(handle_, sql.constData(), -1, &statement, nullptr);
    if (result != SQLITE_OK) {
        *corrupt = isCorruptCode(result);
        setDatabaseError(error, kOpValidateDatabase);
        sqlite3_finalize(statement);
        return false;
    }
    result = sqlite3_step(statement);
    bool valid = false;
    if (result == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        valid = sqlite3_column_count(statement) == 1 && text && QString::fromUtf8(text) == kIntegrityOk;
        // A report of problems, however worded, means a damaged file.
        *corrupt = !valid;
    } else {
        *corrupt = isCorruptCode(result);
    }
    if (!valid)
        setDatabaseError(error, kOpValidateDatabase);
    sqlite3_finalize(statement);
    return valid;
}

void APMSqliteStore::finalizeAndClearStatements()
{
    for (sqlite3_stmt* statement : std::as_const(statements_))
        sqlite3_finalize(statement);
    statements_.clear();
    for (sqlite3_stmt*& statement : transactionStatements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    sqlite3_finalize(dataVersionStatement_);
    dataVersionStatement_ = nullptr;
}

void APMSqliteStore::closeDatabase()
{
    if (!handle_)
        return;
    finalizeAndClearStatements();
    const int result = sqlite3_close(handle_);
    if (result != SQLITE_OK) {
        storeMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 34018, kLogCloseFailed, result);
        // Let SQLite release the connection once whatever still holds it is gone.
        sqlite3_close_v2(handle_);
    }
    handle_ = nullptr;
}

bool APMSqliteStore::closeAndDeleteDatabase()
{
    closeDatabase();
    bool deleted = true;
    QStringList paths { databasePath_ };
    for (const QString& suffix : kSidecarSuffixes)
        paths << databasePath_ + suffix;
    for (const QString& path : std::as_const(paths)) {
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.remove()) {
            storeMonitor().logWithLevel(
                APMMonitor::kLevelErrorMonitored, 34019, kLogDeleteFailed, file.errorString());
            deleted = false;
        }
    }
    return deleted;
}

// --- Errors ---

QString APMSqliteStore::lastErrorMessage() const
{
    return handle_ ? QString::fromUtf8(sqlite3_errmsg(handle_)) : QString();
}

QString APMSqliteStore::errorDescriptionForDatabaseOperation(const QString& operation) const
{
    if (!handle_)
        return QString();
    return kDatabaseErrorFormat.arg(operation).arg(sqlite3_errcode(handle_)).arg(lastErrorMessage());
}

QString APMSqliteStore::monitorContextForDatabaseOperation(const QString& operation) const
{
    return monitorContextForCode(operation, handle_ ? sqlite3_errcode(handle_) : SQLITE_OK);
}

QString APMSqliteStore::monitorContextForCode(const QString& operation, int resultCode) const
{
    const bool writable = QFileInfo(databasePath_).isWritable();
    return QStringList { operation.isEmpty() ? kUnknownOperation : operation, QString::number(resultCode),
        writable ? kWritableMark : kNotWritableMark }
        .join(QLatin1Char(','));
}

void APMSqliteStore::setDatabaseError(APMError* error, const QString& operation) const
{
    if (!handle_) {
        APMSetErrorWithCode(error, APMError::StorageFailure, QString());
        return;
    }
    lastDatabaseErrorCode_ = sqlite3_errcode(handle_);
    APMSetErrorWithCodeAndContext(error, APMError::StorageFailure,
        errorDescriptionForDatabaseOperation(operation), monitorContextForDatabaseOperation(operation));
}

void APMSqliteStore::setDatabaseErrorWithCode(
    APMError* error, const QString& operation, int resultCode, const QString& message) const
{
    lastDatabaseErrorCode_ = resultCode;
    APMSetErrorWithCodeAndContext(error, APMError::StorageFailure,
        kDatabaseErrorFormat.arg(operation).arg(resultCode).arg(message),
        monitorContextForCode(operation, resultCode));
}

bool APMSqliteStore::isEnvironmentResultCode(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_INTERRUPT:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
        return true;
    default:
        return false;
    }
}

// --- Statements ---

sqlite3_stmt* APMSqliteStore::prepareSQL(const QString& sql, APMError* error)
{
    if (!APMCheckCondition(!sql.isEmpty(), error, APMError::InvalidArgument, kEmptyPrepare)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kPrepareNotOpen))
        return nullptr;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(handle_, text.constData(), -1, &statement, &tail) != SQLITE_OK) {
        setDatabaseError(error, kOpPrepareStatement);
        sqlite3_finalize(statement);
        return nullptr;
    }
    if (!statement) {
        // Only blanks or comments: nothing to run.
        APMSetErrorWithCode(error, APMError::InvalidArgument, kEmptyPrepare);
        return nullptr;
    }
    if (tail && !QByteArray(tail).trimmed().isEmpty()) {
        sqlite3_finalize(statement);
        APMSetErrorWithCode(error, APMError::InvalidArgument, kMoreThanOneStatement);
        return nullptr;
    }
    return statement;
}

sqlite3_stmt* APMSqliteStore::statementForQuery(
    const QString& query, const QVariantList* parameterValues, APMError* error)
{
    if (!APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kStatementNotOpen))
        return nullptr;
    const bool hasParameters = parameterValues && !parameterValues->isEmpty();
    const bool hasPlaceholders = query.contains(QLatin1Char('?'));
    if (!APMCheckCondition(
            !hasPlaceholders || hasParameters, error, APMError::InvalidArgument, kEmptyParameters))
        return nullptr;
    if (sqlite3_stmt* cached = statements_.value(query)) {
        sqlite3_reset(cached);
        if (hasParameters && !bindValues(*parameterValues, cached, error))
            return nullptr;
        return cached;
    }
    // Placeholders make a text reusable; literal conditions would fill the
    // cache with one-off statements.
    const bool cacheable = hasPlaceholders || !containsWhere(query);
    sqlite3_stmt* statement = prepareSQL(query, error);
    if (!statement)
        return nullptr;
    if (cacheable)
        statements_.insert(query, statement);
    if (hasParameters && !bindValues(*parameterValues, statement, error)) {
        if (!cacheable)
            sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

void APMSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const QString& query)
{
    if (!statement)
        return;
    const auto cached = statements_.constFind(query);
    if (cached == statements_.constEnd()) {
        sqlite3_finalize(statement);
        return;
    }
    if (cached.value() != statement) {
        storeMonitor().logWithLevel(APMMonitor::kLevelWarningSilent, 34016, kLogStatementMismatch);
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

bool APMSqliteStore::executeSQL(const QString& sql, APMError* error)
{
    if (!APMCheckCondition(!sql.isEmpty(), error, APMError::InvalidArgument, kEmptyExecute)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kExecuteNotOpen))
        return false;
    sqlite3_stmt* statement = prepareSQL(sql, error);
    if (!statement)
        return false;
    const bool done = executeSQLStatement(statement, error);
    notifyChange(nullptr);
    return done;
}

bool APMSqliteStore::executeSQLStatement(sqlite3_stmt* statement, APMError* error)
{
    if (!APMCheckCondition(statement != nullptr, error, APMError::InvalidArgument, kNullStatement))
        return false;
    if (!handle_) {
        sqlite3_finalize(statement);
        APMSetErrorWithCode(error, APMError::InvalidState, kExecuteStatementNotOpen);
        return false;
    }
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done)
        setDatabaseError(error, kOpExecuteStatement);
    sqlite3_finalize(statement);
    return done;
}

bool APMSqliteStore::bindValues(const QVariantList& values, sqlite3_stmt* statement, APMError* error)
{
    if (!APMCheckCondition(statement != nullptr, error, APMError::InvalidArgument, kBindNullStatement))
        return false;
    sqlite3_clear_bindings(statement);
    bool allBound = true;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i >= std::numeric_limits<int>::max())
            break;
        const int index = static_cast<int>(i) + 1;
        const QVariant& value = values.at(i);
        int result = SQLITE_OK;
        switch (kindOfValue(value)) {
        case ValueKind::Blob: {
            const QByteArray bytes = value.toByteArray();
            result = sqlite3_bind_blob64(statement, index, bytes.constData(),
                static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case ValueKind::Integer:
            result = sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        case ValueKind::Real:
            result = sqlite3_bind_double(statement, index, value.toDouble());
            break;
        case ValueKind::Text: {
            const QByteArray text = value.toString().toUtf8();
            result = sqlite3_bind_text64(statement, index, text.constData(),
                static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        case ValueKind::Null:
            result = sqlite3_bind_null(statement, index);
            break;
        case ValueKind::Unsupported:
            setDatabaseErrorWithCode(error, kOpBindValues, SQLITE_ERROR, kUnexpectedValueTypeMessage);
            allBound = false;
            continue;
        }
        if (result != SQLITE_OK) {
            setDatabaseError(error, kOpBindValues);
            allBound = false;
        }
    }
    return allBound;
}

QVariant APMSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) const
{
    if (!statement)
        return QVariant();
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return QVariant::fromValue<qint64>(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return QVariant::fromValue<double>(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (!text)
            return QVariant();
        return platform::Utf8Text::decode(QByteArrayView(text, sqlite3_column_bytes(statement, column)));
    }
    case SQLITE_BLOB: {
        const void* blob = sqlite3_column_blob(statement, column);
        if (!blob)
            return QVariant();
        return QByteArray(static_cast<const char*>(blob), sqlite3_column_bytes(statement, column));
    }
    case SQLITE_NULL:
        return APMSqlNull();
    default:
        return QVariant();
    }
}

// --- Transactions ---

bool APMSqliteStore::runTransactionStatement(TransactionStatement which)
{
    // Every logged event is a transaction of its own: the three statements
    // are prepared once per connection, apart from the statement cache.
    static const char* const kTexts[] = { kBeginTransactionSQL, kEndTransactionSQL, kRollbackSQL };
    if (!handle_)
        return false;
    sqlite3_stmt*& statement = transactionStatements_[which];
    if (!statement && sqlite3_prepare_v2(handle_, kTexts[which], -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        statement = nullptr;
        return false;
    }
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result == SQLITE_DONE;
}

void APMSqliteStore::setChangeObserver(std::function<void(const char* table)> changed)
{
    changeObserver_ = std::move(changed);
    if (!handle_)
        return;
    sqlite3_update_hook(
        handle_,
        [](void* context, int, const char*, const char* table, sqlite3_int64) {
            static_cast<APMSqliteStore*>(context)->notifyChange(table);
        },
        this);
    sqlite3_rollback_hook(
        handle_,
        [](void* context) {
            static_cast<APMSqliteStore*>(context)->notifyChange(nullptr);
        },
        this);
}

std::optional<qint64> APMSqliteStore::dataVersion()
{
    // Asked for every logged event (to tell whether what was read before
    // still holds): prepared once per connection, like the transactions.
    if (!handle_)
        return std::nullopt;
    if (!dataVersionStatement_
        && sqlite3_prepare_v2(handle_, kDataVersionSQL, -1, &dataVersionStatement_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(dataVersionStatement_);
        dataVersionStatement_ = nullptr;
        return std::nullopt;
    }
    std::optional<qint64> version;
    if (sqlite3_step(dataVersionStatement_) == SQLITE_ROW)
        version = sqlite3_column_int64(dataVersionStatement_, 0);
    sqlite3_reset(dataVersionStatement_);
    return version;
}

bool APMSqliteStore::beginTransaction() { return runTransactionStatement(kBegin); }

bool APMSqliteStore::endTransaction() { return runTransactionStatement(kEnd); }

bool APMSqliteStore::rollbackTransaction() { return runTransactionStatement(kRollback); }

bool APMSqliteStore::performTransactionWithError(APMError* error, const std::function<bool()>& block)
{
    if (!APMCheckCondition(bool(block), error, APMError::InvalidArgument, kNilBlock)
        || !APMCheckCondition(handle_ != nullptr, error, APMError::InvalidState, kTransactionNotOpen))
        return false;
    if (!beginTransaction()) {
        lastDatabaseErrorCode_ = handle_ ? sqlite3_errcode(handle_) : SQLITE_MISUSE;
        APMSetErrorWithCode(error, APMError::StorageFailure, kBeginFailed);
        return false;
    }
    bool succeeded = false;
    try {
        succeeded = block();
    } catch (...) {
        if (!rollbackTransaction())
            storeMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 34009, kLogRollbackAfterException);
        throw;
    }
    if (!succeeded) {
        APMSetErrorWithCode(error, APMError::StorageFailure, kTransactionFailed);
        if (!rollbackTransaction())
            storeMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 34011, kLogRollbackFailed);
        return false;
    }
    if (!endTransaction()) {
        lastDatabaseErrorCode_ = handle_ ? sqlite3_errcode(handle_) : SQLITE_MISUSE;
        APMSetErrorWithCode(error, APMError::StorageFailure, kEndFailed);
        // A commit that failed leaves the transaction open; every later
        // transaction would then fail to begin.
        if (handle_ && !sqlite3_get_autocommit(handle_) && !rollbackTransaction())
            storeMonitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 34011, kLogRollbackFailed);
        return false;
    }
    return true;
}

bool APMSqliteStore::isBindableValue(const QVariant& value)
{
    return kindOfValue(value) != ValueKind::Unsupported;
}
