// Storing the installed-applications table as a rebuild does: 200 rows and
// the grant of each application's path in the user defaults. The way it is
// done now (one transaction for the rows, one preferences write for the
// grants) against the reference of writing each row and each grant on its
// own, which rewrote the preferences file once per application. Prints both
// times and the ratio.
#include "BestRunReporter.h"
#include "core/HRPSqliteOperation.h"
#include "platform/Preferences.h"
#include "voice/CommandBookmarks.h"
#include "voice/MMAppdataItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kApplications = 200;
constexpr int kRounds = 5;
const char* const kBatched = "BM_BatchedRebuild";
const char* const kPerRow = "BM_RowByRowRebuild";
const QString kTable = QStringLiteral("DBMyAppsoooCmdListKey");

struct Fixture {
    QTemporaryDir dir;
    QList<MMAppdataItem> rows;

    Fixture()
    {
        QDir(dir.path()).mkpath(QStringLiteral("apps"));
        for (int i = 0; i < kApplications; ++i) {
            const QString path = dir.filePath(QStringLiteral("apps/app%1.desktop").arg(i));
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write("[Desktop Entry]\n");
            MMAppdataItem row;
            row.setName(QStringLiteral("Application %1").arg(i));
            row.setPath(QStringLiteral("file://") + path);
            row.setIcon(QString(2000, u'A')); // an icon as Base64 text
            row.setCmdword(QStringLiteral("打开Application %1").arg(i));
            rows.append(row);
        }
    }
};

void BM_BatchedRebuild(benchmark::State& state)
{
    Fixture fixture;
    int round = 0;
    for (auto _ : state) {
        HRPSqliteOperation database(fixture.dir.filePath(QStringLiteral("batched%1.sqlite").arg(round)));
        platform::Preferences prefs(fixture.dir.filePath(QStringLiteral("batched%1.plist").arg(round++)));
        database.createTableWithtableName(kTable, MMAppdataItem());
        QList<const SqliteRowModel*> models;
        QVariantMap grants;
        for (const MMAppdataItem& row : std::as_const(fixture.rows)) {
            models.append(&row);
            if (const std::optional<QVariant> entry = CommandBookmarks::bookmarkEntry(row.path()))
                grants.insert(row.path(), *entry);
        }
        database.replaceAllDataBaseWithtableName(kTable, models);
        prefs.setValues(grants);
    }
}

void BM_RowByRowRebuild(benchmark::State& state)
{
    Fixture fixture;
    int round = 0;
    for (auto _ : state) {
        HRPSqliteOperation database(fixture.dir.filePath(QStringLiteral("rows%1.sqlite").arg(round)));
        platform::Preferences prefs(fixture.dir.filePath(QStringLiteral("rows%1.plist").arg(round++)));
        database.createTableWithtableName(kTable, MMAppdataItem());
        for (const MMAppdataItem& row : std::as_const(fixture.rows)) {
            database.insertDataBaseWithtableName(kTable, row, {});
            CommandBookmarks::storeBookmark(prefs, row.path());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("PRAVIK_HOME", home.path().toUtf8());
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark(kBatched, BM_BatchedRebuild)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(kPerRow, BM_RowByRowRebuild)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto batched = reporter.bestSeconds.find(kBatched);
    const auto perRow = reporter.bestSeconds.find(kPerRow);
    if (batched == reporter.bestSeconds.end() || perRow == reporter.bestSeconds.end())
        return 0;
    std::printf("%d applications: batched %.1f ms, row by row %.1f ms (CPU time, fastest of %d rounds)\n",
        kApplications, batched->second * 1000, perRow->second * 1000, kRounds);
    std::printf("ratio batched/row by row: %.3f (goal: at most 0.10)\n", batched->second / perRow->second);
    return 0;
}
