#include "core/HRPSqliteOperation.h"
#include "core/SqliteRowModel.h"
#include "fakes/TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using Outcome = HRPSqliteOperation::Recovery::Outcome;

class Row : public SqliteRowModel {
public:
    QStringList fieldNames() const override { return { QStringLiteral("word") }; }
    QVariant fieldValue(const QString&) const override { return QStringLiteral("w"); }
    void setFieldValue(const QString&, const QVariant&) override { }
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A database file whose header is intact but whose schema page is garbage.
QByteArray databaseWithDamagedSchema(const QString& scratch)
{
    {
        HRPSqliteOperation op(scratch);
        EXPECT_TRUE(op.createTableWithtableName(QStringLiteral("T"), Row()));
    }
    QByteArray bytes = readFile(scratch);
    // Page 1 holds the 100-byte file header, then the schema table's b-tree page.
    for (qsizetype i = 100; i < qMin<qsizetype>(bytes.size(), 600); ++i)
        bytes[i] = char(0xA5);
    return bytes;
}

struct DamageCase {
    const char* name;
    std::function<QByteArray(const QString& scratch)> contents;
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.name;
}

class DamagedDatabase : public ::testing::TestWithParam<DamageCase> {
protected:
    fakes::TempHome home;
    QString path = home.path() + QStringLiteral("/MMmouseDataBase.sqlite");
};

TEST_P(DamagedDatabase, IsKeptAsideUnderAFreshNameAndAWorkingOneTakesItsPlace)
{
    const QByteArray damaged = GetParam().contents(home.path() + QStringLiteral("/scratch.sqlite"));
    writeFile(path, damaged);

    HRPSqliteOperation::Recovery recovery;
    {
        HRPSqliteOperation op(path);
        recovery = op.recoverIfDamaged();
        ASSERT_EQ(recovery.outcome, Outcome::MovedAside) << recovery.reason.toStdString();
        QString error;
        EXPECT_TRUE(op.createTableWithtableName(QStringLiteral("DBCustomizeCmdList"), Row(), &error))
            << error.toStdString();
        EXPECT_EQ(op.recoverIfDamaged().outcome, Outcome::Healthy);
    }
    EXPECT_FALSE(recovery.reason.isEmpty());
    EXPECT_TRUE(recovery.keptAs.startsWith(path + QStringLiteral(".damaged-")))
        << recovery.keptAs.toStdString();
    EXPECT_EQ(readFile(recovery.keptAs), damaged);

    // Damaged again within the same second: the first kept file stays as it was.
    writeFile(path, "second damaged file");
    HRPSqliteOperation again(path);
    const auto next = again.recoverIfDamaged();
    ASSERT_EQ(next.outcome, Outcome::MovedAside);
    EXPECT_NE(next.keptAs, recovery.keptAs);
    EXPECT_EQ(readFile(recovery.keptAs), damaged);
    EXPECT_EQ(readFile(next.keptAs), QByteArray("second damaged file"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedDatabase,
    ::testing::Values(
        DamageCase {
            "text", [](const QString&) { return QByteArray("this is not a database\n").repeated(40); } },
        DamageCase { "header only",
            [](const QString&) { return QByteArray("SQLite format 3\0", 16) + QByteArray(84, '\xff'); } },
        DamageCase { "damaged schema", databaseWithDamagedSchema }),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.name);
        name.replace(u' ', u'_');
        return name.toStdString();
    });

TEST(HRPSqliteRecovery, TheJournalBesideAFileThatIsNoDatabaseGoesWithIt)
{
    fakes::TempHome home;
    const QString path = home.path() + QStringLiteral("/MMmouseDataBase.sqlite");
    writeFile(path, "not a database");
    writeFile(path + QStringLiteral("-journal"), "stale journal");
    HRPSqliteOperation op(path);
    const auto recovery = op.recoverIfDamaged();
    ASSERT_EQ(recovery.outcome, Outcome::MovedAside);
    EXPECT_EQ(readFile(recovery.keptAs + QStringLiteral("-journal")), QByteArray("stale journal"));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral("-journal")));
    EXPECT_TRUE(op.createTableWithtableName(QStringLiteral("T"), Row()));
}

TEST(HRPSqliteRecovery, MissingAndEmptyFilesAreHealthy)
{
    fakes::TempHome home;
    const QString missing = home.path() + QStringLiteral("/new.sqlite");
    HRPSqliteOperation fresh(missing);
    EXPECT_EQ(fresh.recoverIfDamaged().outcome, Outcome::Healthy);

    const QString empty = home.path() + QStringLiteral("/empty.sqlite");
    writeFile(empty, QByteArray());
    HRPSqliteOperation op(empty);
    EXPECT_EQ(op.recoverIfDamaged().outcome, Outcome::Healthy);
    EXPECT_EQ(QDir(home.path()).entryList({ QStringLiteral("*.damaged-*") }, QDir::Files), QStringList());
}

TEST(HRPSqliteRecovery, AnUnwritableFolderIsReportedAndNothingIsMoved)
{
    fakes::TempHome home;
    // A file where the folder should be: refused for every user, root included.
    writeFile(home.path() + QStringLiteral("/Documents"), "not a folder");
    HRPSqliteOperation op(home.path() + QStringLiteral("/Documents/MMmouseDataBase.sqlite"));
    const auto recovery = op.recoverIfDamaged();
    EXPECT_EQ(recovery.outcome, Outcome::Unwritable);
    EXPECT_FALSE(recovery.reason.isEmpty());
    EXPECT_TRUE(recovery.keptAs.isEmpty());
    EXPECT_EQ(readFile(home.path() + QStringLiteral("/Documents")), QByteArray("not a folder"));

    QString error;
    EXPECT_FALSE(op.createTableWithtableName(QStringLiteral("T"), Row(), &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
