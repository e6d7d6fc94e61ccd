// Storing the installed-applications table as a rebuild does: 200 rows and
// the grant of each application's path in the user defaults. The way it is
// done now (one transaction for the rows, one preferences write for the
// grants) against the reference of writing each row and each grant on its
// own, which rewrote the preferences file once per application. Prints both
// times and the ratio.
//
// Then the main thread while "Find applications again" is pressed during a
// rebuild of 1,000 applications (desktop entries with 512-pixel icons) on a
// worker: the longest time its event loop stood still, against the longest
// of the same loop left idle for as long, in the same run.
#include "BestRunReporter.h"
#include "MainThreadStall.h"
#include "core/HRPSqliteOperation.h"
#include "core/Notifications.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "voice/CommandBookmarks.h"
#include "voice/MMAppdataItem.h"
#include "voice/UWHomeViewModel.h"
#include "voice/mmQuery.h"

#include <QCoreApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <cstdio>
#include <thread>

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

constexpr int kStallApplications = 1000;
constexpr int kStallIconSize = 512;
constexpr double kStallGoalMs = 50;
// A rebuild that never ends stops the measurement instead of hanging it.
constexpr int kStallTimeLimitMs = 10 * 60 * 1000;

// Desktop entries under dataFolder/applications, each with its own
// 512-pixel icon file.
void installApplications(const QString& dataFolder)
{
    QDir(dataFolder).mkpath(QStringLiteral("applications"));
    QDir(dataFolder).mkpath(QStringLiteral("icons"));
    QImage icon(kStallIconSize, kStallIconSize, QImage::Format_ARGB32);
    for (int y = 0; y < kStallIconSize; ++y) {
        for (int x = 0; x < kStallIconSize; ++x)
            icon.setPixel(x, y, qRgba(x / 2, y / 2, (x ^ y) & 0xff, 255));
    }
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        icon.save(&buffer, "PNG");
    }
    for (int i = 0; i < kStallApplications; ++i) {
        const QString iconPath = QStringLiteral("%1/icons/app%2.png").arg(dataFolder).arg(i);
        QFile iconFile(iconPath);
        iconFile.open(QIODevice::WriteOnly);
        iconFile.write(png);
        QFile entry(QStringLiteral("%1/applications/app%2.desktop").arg(dataFolder).arg(i));
        entry.open(QIODevice::WriteOnly);
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Application %1\nExec=true\nIcon=%2\n")
                        .arg(i)
                        .arg(iconPath)
                        .toUtf8());
    }
}

struct StallFigures {
    double rebuildMs; // wall time of the whole rebuild on the worker
    double busyMs; // longest main-thread gap while it ran
    double idleMs; // longest gap of the idle loop for as long
};

StallFigures measureStall()
{
    QTemporaryDir dir;
    const QString dataFolder = dir.filePath(QStringLiteral("share"));
    installApplications(dataFolder);
    HRPSqliteOperation database(dir.filePath(QStringLiteral("stall.sqlite")));
    platform::Preferences prefs(dir.filePath(QStringLiteral("stall.plist")));
    UWHomeViewModel model(database, mmQuery({ dataFolder }), &prefs);
    model.createSQLTableWithtableName(UWHomeViewModel::kDBMyAppsoooCmdListKey, MMAppdataItem());

    std::atomic<bool> started { false }, done { false };
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        notifications::kGetMyApp, [&started](const platform::Notification& n) {
            if (n.object == QVariant(UWHomeViewModel::kGetMyAppBegin))
                started = true;
        });
    QElapsedTimer rebuildClock;
    rebuildClock.start();
    std::thread worker([&] {
        model.getLocalMyAppsCmdList();
        done = true;
    });
    // Once the worker is rebuilding, the user asks for the list again: the
    // page's message empties the table on the main thread.
    bool pressed = false;
    const double busyMs = bench::longestMainThreadStallMs(
        [&] {
            if (started && !pressed) {
                pressed = true;
                model.cleanLocalMyAppsCmdList();
            }
        },
        [&] { return done.load(); }, kStallTimeLimitMs);
    const double rebuildMs = double(rebuildClock.nsecsElapsed()) / 1e6;
    worker.join();
    QCoreApplication::processEvents(); // the rebuild's progress notifications

    QElapsedTimer idleClock;
    idleClock.start();
    const double idleMs = bench::longestMainThreadStallMs(
        [] {}, [&] { return double(idleClock.nsecsElapsed()) / 1e6 >= rebuildMs; }, kStallTimeLimitMs);
    return { rebuildMs, busyMs, idleMs };
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("PRAVIK_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
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
    if (batched != reporter.bestSeconds.end() && perRow != reporter.bestSeconds.end()) {
        std::printf("%d applications: batched %.1f ms, row by row %.1f ms (CPU time, fastest of %d rounds)\n",
            kApplications, batched->second * 1000, perRow->second * 1000, kRounds);
        std::printf(
            "ratio batched/row by row: %.3f (goal: at most 0.10)\n", batched->second / perRow->second);
    }

    const StallFigures stall = measureStall();
    std::printf("%d applications with %d-pixel icons rebuilt on a worker in %.0f ms\n", kStallApplications,
        kStallIconSize, stall.rebuildMs);
    std::printf("longest main-thread stall: %.1f ms during the rebuild, %.1f ms idle (goal: at most %.0f ms)\n",
        stall.busyMs, stall.idleMs, kStallGoalMs);
    return 0;
}
