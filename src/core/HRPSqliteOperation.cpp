#include "core/HRPSqliteOperation.h"

#include "platform/AppPaths.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QtDebug>

#include <sqlite3.h>

namespace {

const QString kDataBaseName = QStringLiteral("MMmouseDataBase");
const QString kDataBaseFilePattern = QStringLiteral("%1.sqlite");
// A damaged database is kept as "<file>.damaged-<yyyyMMdd-HHmmss>".
const QString kDamagedSuffix = QStringLiteral(".damaged-");
// The first bytes of every SQLite database file.
const QByteArray kHeaderMagic("SQLite format 3\0", 16);
// The files SQLite keeps beside a database; they belong to the damaged one.
const QStringList kJournalSuffixes { QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm") };

// The batch operations of every instance take turns.
std::mutex& batchMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::optional<QString> identifier(const QString& name, QString* error)
{
    std::optional<QString> quoted = SqliteDatabase::quoteIdentifier(name);
    if (!quoted)
        *error = QStringLiteral("invalid table or column name");
    return quoted;
}

bool isNil(const QVariant& value)
{
    if (!value.isValid() || value.typeId() == QMetaType::Nullptr)
        return true;
    return value.typeId() == QMetaType::QString && value.toString().isNull();
}

} // namespace

HRPSqliteOperation& HRPSqliteOperation::shareOperation()
{
    static HRPSqliteOperation operation(defaultDatabasePath());
    return operation;
}

QString HRPSqliteOperation::defaultDatabasePath()
{
    return platform::AppPaths::documents() + QLatin1Char('/') + kDataBaseFilePattern.arg(kDataBaseName);
}

HRPSqliteOperation::HRPSqliteOperation(const QString& databasePath)
    : path_(databasePath)
{
}

bool HRPSqliteOperation::isOpen()
{
    std::lock_guard lock(mutex_);
    QString error;
    return connection(&error) != nullptr;
}

QString HRPSqliteOperation::openError()
{
    std::lock_guard lock(mutex_);
    QString error;
    connection(&error);
    return openError_;
}

SqliteDatabase* HRPSqliteOperation::connection(QString* error)
{
    if (!openTried_) {
        openTried_ = true;
        if (!database_.open(path_, &openError_))
            qWarning().noquote() << "Cannot open the database" << path_ << ":" << openError_;
    }
    if (!database_.isOpen()) {
        *error = openError_;
        return nullptr;
    }
    return &database_;
}

std::optional<QString> HRPSqliteOperation::probe(bool* damaged)
{
    *damaged = false;
    // Something that is no database at all is recognised without SQLite, so
    // SQLite never treats a journal beside it as its own and plays it back.
    {
        QFile file(path_);
        if (file.open(QIODevice::ReadOnly) && file.size() > 0
            && file.read(kHeaderMagic.size()) != kHeaderMagic) {
            *damaged = true;
            return QStringLiteral("file is not a database");
        }
    }
    QString error;
    SqliteDatabase* db = connection(&error);
    if (!db)
        return error;
    // Reading the whole schema touches the header and every schema page; an
    // immediate transaction needs the file and its folder to be writable.
    if (db->execute(QStringLiteral("SELECT count(*) FROM sqlite_master"), {}, &error)
        && db->execute(QStringLiteral("BEGIN IMMEDIATE"), {}, &error)) {
        db->rollback();
        return std::nullopt;
    }
    const int code = db->lastErrorCode();
    *damaged = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
    return error;
}

bool HRPSqliteOperation::moveAside(QString* keptAs, QString* error)
{
    const QString stamp = QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = path_ + kDamagedSuffix + stamp;
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    database_.close();
    QFile file(path_);
    if (!file.rename(target)) {
        *error = file.errorString();
        return false;
    }
    for (const QString& suffix : kJournalSuffixes) {
        if (QFileInfo::exists(path_ + suffix))
            QFile::rename(path_ + suffix, target + suffix);
    }
    *keptAs = target;
    return true;
}

HRPSqliteOperation::Recovery HRPSqliteOperation::recoverIfDamaged()
{
    std::lock_guard lock(mutex_);
    Recovery recovery;
    bool damaged = false;
    const std::optional<QString> problem = probe(&damaged);
    if (!problem)
        return recovery;
    recovery.reason = *problem;
    recovery.outcome = Recovery::Outcome::Unwritable;
    if (!damaged)
        return recovery;
    QString moveError;
    if (!moveAside(&recovery.keptAs, &moveError)) {
        recovery.reason += QStringLiteral("; keeping it aside failed: ") + moveError;
        openTried_ = false; // the file stays; the next use tries again
        return recovery;
    }
    openTried_ = false;
    if (const std::optional<QString> fresh = probe(&damaged)) {
        recovery.reason += QStringLiteral("; the fresh database failed too: ") + *fresh;
        return recovery;
    }
    recovery.outcome = Recovery::Outcome::MovedAside;
    return recovery;
}

HRPSqliteOperation::Outcome HRPSqliteOperation::run(const QString& sql, const QVariantList& params)
{
    Outcome outcome;
    if (SqliteDatabase* db = connection(&outcome.error))
        outcome.success = db->execute(sql, params, &outcome.error);
    return outcome;
}

bool HRPSqliteOperation::createTableWithtableName(
    const QString& tableName, const SqliteRowModel& model, QString* error)
{
    std::lock_guard lock(mutex_);
    QString reason;
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const auto table = identifier(tableName, &reason);
    if (!table)
        return fail(reason);
    const QStringList fields = HRPSqliteTool::allPropertyNamesFieldNameModel(model);
    if (fields.isEmpty())
        return fail(QStringLiteral("the model has no fields"));
    QStringList columns;
    for (const QString& field : fields) {
        const auto column = identifier(field, &reason);
        if (!column)
            return fail(reason);
        columns.append(*column);
    }
    const Outcome outcome = run(
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1(%2)").arg(*table, columns.join(QLatin1Char(','))), {});
    return outcome.success || fail(outcome.error);
}

bool HRPSqliteOperation::cleanTableWithtableName(const QString& tableName)
{
    std::lock_guard lock(mutex_);
    QString error;
    const auto table = identifier(tableName, &error);
    return table && run(QStringLiteral("DELETE FROM %1").arg(*table), {}).success;
}

HRPSqliteOperation::Outcome HRPSqliteOperation::insertRow(
    const QString& tableName, const SqliteRowModel& model)
{
    Outcome outcome;
    const auto table = identifier(tableName, &outcome.error);
    if (!table)
        return outcome;
    const auto values = HRPSqliteTool::orderedPropertiesFieldNameModel(model);
    if (values.isEmpty()) {
        outcome.error = QStringLiteral("the model has no value to insert");
        return outcome;
    }
    QStringList columns;
    QStringList placeholders;
    QVariantList params;
    for (const auto& [field, text] : values) {
        const auto column = identifier(field, &outcome.error);
        if (!column)
            return outcome;
        columns.append(*column);
        placeholders.append(QStringLiteral("?"));
        params.append(text);
    }
    return run(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                   .arg(*table, columns.join(QLatin1Char(',')), placeholders.join(QLatin1Char(','))),
        params);
}

void HRPSqliteOperation::insertDataBaseWithtableName(
    const QString& tableName, const SqliteRowModel& model, const Completion& completed)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        outcome = insertRow(tableName, model);
    }
    report(completed, outcome);
}

bool HRPSqliteOperation::delectTableWithtableName(const QString& tableName)
{
    std::lock_guard lock(mutex_);
    QString error;
    const auto table = identifier(tableName, &error);
    return table && run(QStringLiteral("DROP TABLE %1").arg(*table), {}).success;
}

void HRPSqliteOperation::delectAllDataBaseWithtableName(const QString& tableName, const Completion& completed)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        const auto table = identifier(tableName, &outcome.error);
        if (table)
            outcome = run(QStringLiteral("DELETE FROM %1").arg(*table), {});
    }
    report(completed, outcome);
}

void HRPSqliteOperation::delectDataBaseWithtableName(
    const QString& tableName, const QString& fieldName, const QVariant& value, const Completion& completed)
{
    delectDataBaseWithtableNameByParameterSelectTypeCompleted(
        tableName, QVariantMap { { fieldName, value } }, And, completed);
}

bool HRPSqliteOperation::whereClause(const QVariantMap& parameters, int selectType, QString* clause,
    QVariantList* params, QString* error) const
{
    if (selectType != And && selectType != Or) {
        *error = QStringLiteral("unknown select type %1").arg(selectType);
        return false;
    }
    if (parameters.isEmpty()) {
        *error = QStringLiteral("no condition given");
        return false;
    }
    QStringList terms;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        const auto column = identifier(it.key(), error);
        if (!column)
            return false;
        if (isNil(it.value())) {
            terms.append(*column + QStringLiteral(" IS NULL"));
            continue;
        }
        const QString text = SqliteRowModel::textValue(it.value());
        if (text.isNull()) {
            *error = QStringLiteral("the value for %1 has no text form").arg(it.key());
            return false;
        }
        terms.append(*column + QStringLiteral(" = ?"));
        params->append(text);
    }
    *clause = terms.join(selectType == And ? QStringLiteral(" AND ") : QStringLiteral(" OR "));
    return true;
}

void HRPSqliteOperation::delectDataBaseWithtableNameByParameterSelectTypeCompleted(
    const QString& tableName, const QVariantMap& parameters, int selectType, const Completion& completed)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        const auto table = identifier(tableName, &outcome.error);
        QString clause;
        QVariantList params;
        if (table && whereClause(parameters, selectType, &clause, &params, &outcome.error))
            outcome = run(QStringLiteral("DELETE FROM %1 WHERE %2").arg(*table, clause), params);
    }
    report(completed, outcome);
}

HRPSqliteOperation::Outcome HRPSqliteOperation::updateRow(
    const QString& tableName, const QString& fieldName, const SqliteRowModel& model)
{
    Outcome outcome;
    const auto table = identifier(tableName, &outcome.error);
    if (!table)
        return outcome;
    if (!model.fieldNames().contains(fieldName)) {
        outcome.error = QStringLiteral("%1 is not a field of the model").arg(fieldName);
        return outcome;
    }
    const QString key = SqliteRowModel::textValue(model.fieldValue(fieldName));
    if (key.isNull()) {
        outcome.error = QStringLiteral("the key field %1 has no value").arg(fieldName);
        return outcome;
    }
    const auto keyColumn = identifier(fieldName, &outcome.error);
    if (!keyColumn)
        return outcome;
    QStringList assignments;
    QVariantList params;
    for (const auto& [field, text] : HRPSqliteTool::orderedPropertiesFieldNameModel(model)) {
        const auto column = identifier(field, &outcome.error);
        if (!column)
            return outcome;
        assignments.append(*column + QStringLiteral(" = ?"));
        params.append(text);
    }
    params.append(key);
    return run(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                   .arg(*table, assignments.join(QLatin1Char(',')), *keyColumn),
        params);
}

void HRPSqliteOperation::updataTableWithtableName(const QString& tableName, const QString& fieldName,
    const SqliteRowModel& model, const Completion& completed)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        outcome = updateRow(tableName, fieldName, model);
    }
    report(completed, outcome);
}

void HRPSqliteOperation::addNewPropertyWithtableName(
    const QString& tableName, const QString& propertyName, const Completion& completed)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        const auto table = identifier(tableName, &outcome.error);
        const auto column = table ? identifier(propertyName, &outcome.error) : std::nullopt;
        if (column)
            outcome = run(QStringLiteral("ALTER TABLE %1 ADD %2 integer").arg(*table, *column), {});
    }
    report(completed, outcome);
}

QList<HRPSqliteOperation::Row> HRPSqliteOperation::query(const QString& sql, const QVariantList& params)
{
    QString error;
    SqliteDatabase* db = connection(&error);
    if (!db)
        return {};
    SqliteStatement statement = db->prepare(sql, &error);
    if (!statement.isValid())
        return {};
    for (int i = 0; i < params.size(); ++i) {
        if (!statement.bindValue(i + 1, params.at(i)))
            return {};
    }
    QList<Row> rows;
    for (;;) {
        switch (statement.step()) {
        case SqliteStatement::Step::Row: {
            Row row;
            for (int column = 0; column < statement.columnCount(); ++column) {
                const QString text = statement.columnText(column);
                row.append({ statement.columnName(column), text.isNull() ? QVariant() : QVariant(text) });
            }
            rows.append(row);
            break;
        }
        case SqliteStatement::Step::Done:
            return rows;
        case SqliteStatement::Step::Error:
            return {};
        }
    }
}

QList<HRPSqliteOperation::Row> HRPSqliteOperation::selectRows(const QString& tableName)
{
    std::lock_guard lock(mutex_);
    QString error;
    const auto table = identifier(tableName, &error);
    if (!table)
        return {};
    return query(QStringLiteral("SELECT * FROM %1").arg(*table), {});
}

QList<QVariantMap> HRPSqliteOperation::selectAllDataBaseWithtableName(const QString& tableName)
{
    return toMaps(selectRows(tableName));
}

QList<QVariantMap> HRPSqliteOperation::selectAllDataBaseWithtableNameByParameterSelectType(
    const QString& tableName, const QVariantMap& parameters, int selectType)
{
    std::lock_guard lock(mutex_);
    QString error;
    const auto table = identifier(tableName, &error);
    QString clause;
    QVariantList params;
    if (!table || !whereClause(parameters, selectType, &clause, &params, &error))
        return {};
    return toMaps(query(QStringLiteral("SELECT * FROM %1 WHERE %2").arg(*table, clause), params));
}

void HRPSqliteOperation::insertsDataBaseWithtableName(const QString& tableName,
    const QList<const SqliteRowModel*>& modelArr, const BatchInsertCompletion& completed)
{
    std::lock_guard batch(batchMutex());
    QList<const SqliteRowModel*> failed;
    for (qsizetype i = 0; i < modelArr.size(); ++i) {
        bool written = false;
        if (modelArr.at(i)) {
            std::lock_guard lock(mutex_);
            written = insertRow(tableName, *modelArr.at(i)).success;
        }
        if (!written) {
            failed = modelArr.mid(i);
            break;
        }
    }
    if (completed)
        completed(failed);
}

bool HRPSqliteOperation::replaceAllDataBaseWithtableName(
    const QString& tableName, const QList<const SqliteRowModel*>& modelArr, QString* error)
{
    std::lock_guard batch(batchMutex());
    std::lock_guard lock(mutex_);
    Outcome outcome;
    const auto table = identifier(tableName, &outcome.error);
    SqliteDatabase* db = table ? connection(&outcome.error) : nullptr;
    if (db && db->beginTransaction(&outcome.error)) {
        outcome = run(QStringLiteral("DELETE FROM %1").arg(*table), {});
        for (qsizetype i = 0; outcome.success && i < modelArr.size(); ++i) {
            if (modelArr.at(i))
                outcome = insertRow(tableName, *modelArr.at(i));
        }
        if (outcome.success)
            outcome.success = db->commit(&outcome.error);
        if (!outcome.success) {
            QString ignored;
            db->rollback(&ignored);
        }
    }
    if (!outcome.success && error)
        *error = outcome.error;
    return outcome.success;
}

void HRPSqliteOperation::updataTableWithtableNameFieldNameModelArrCompleted(const QString& tableName,
    const QString& fieldName, const QList<const SqliteRowModel*>& modelArr,
    const BatchUpdateCompletion& completed)
{
    std::lock_guard batch(batchMutex());
    QList<const SqliteRowModel*> failed;
    QString error;
    for (qsizetype i = 0; i < modelArr.size(); ++i) {
        Outcome outcome;
        if (modelArr.at(i)) {
            std::lock_guard lock(mutex_);
            outcome = updateRow(tableName, fieldName, *modelArr.at(i));
        } else {
            outcome.error = QStringLiteral("no model");
        }
        if (!outcome.success) {
            failed = modelArr.mid(i);
            error = outcome.error;
            break;
        }
    }
    if (completed)
        completed(failed, error);
}

void HRPSqliteOperation::fillModel(SqliteRowModel& model, const Row& row)
{
    const QStringList fields = model.fieldNames();
    for (const auto& [column, value] : row) {
        if (fields.contains(column))
            model.setFieldValue(column, value);
    }
}

QList<QVariantMap> HRPSqliteOperation::toMaps(const QList<Row>& rows)
{
    QList<QVariantMap> maps;
    maps.reserve(rows.size());
    for (const Row& row : rows) {
        QVariantMap map;
        for (const auto& [column, value] : row)
            map.insert(column, value);
        maps.append(map);
    }
    return maps;
}

void HRPSqliteOperation::report(const Completion& completed, const Outcome& outcome)
{
    if (completed)
        completed(outcome.success, outcome.success ? QString() : outcome.error);
}
