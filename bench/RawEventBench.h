#pragma once

// What the raw-event benchmarks share: the metadata and events the engine
// stores, a database folder in memory when the machine has one, and the
// reference they are measured against: a bare SQLite loop that inserts the
// same rows into the same schema with one prepared INSERT, one transaction
// per row.
#include "analytics/base/APMError.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/model/APMEvent.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <sqlite3.h>
#include <vector>

namespace raw_event_bench {

constexpr int kDistinctEvents = 16;

// Bundle slots: platform, app ID, app version, user properties.
constexpr int32_t kBundlePlatformSlot = 8;
constexpr int32_t kBundleAppIDSlot = 14;
constexpr int32_t kBundleAppVersionSlot = 16;
constexpr int32_t kBundleUserAttributesSlot = 2;
constexpr int32_t kEventNameSlot = 1;

// The metadata the engine stores with every event: device and app fields
// and a few user properties.
inline std::unique_ptr<APMPBMeasurementBundle> metadata()
{
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetStringField(bundle.get(), kBundlePlatformSlot, QStringLiteral("linux"));
    APMPBSetStringField(bundle.get(), kBundleAppIDSlot, QStringLiteral("1:1234567890:linux:0a1b2c3d"));
    APMPBSetStringField(bundle.get(), kBundleAppVersionSlot, QStringLiteral("2.4.1"));
    std::vector<std::unique_ptr<APMPBUserAttribute>> attributes;
    for (const char* name : { "_fot", "_fi", "_lte", "_se", "_sid", "_sno" }) {
        attributes.push_back(APMPBUserAttribute::initWithMessageInfo());
        APMPBSetInt64Field(attributes.back().get(), 0, 1'700'000'000'000);
        APMPBSetStringField(attributes.back().get(), 1, QString::fromLatin1(name));
        APMPBSetInt64Field(attributes.back().get(), 3, 1'700'000'000);
    }
    APMPBSetArrayField(bundle.get(), kBundleUserAttributesSlot, attributes);
    return bundle;
}

// Events shaped like the engine's own: screen, engagement and session
// parameters and a text.
inline const std::vector<APMEvent>& events()
{
    static const std::vector<APMEvent> made = [] {
        std::vector<APMEvent> list;
        for (int i = 0; i < kDistinctEvents; ++i) {
            const QVariantMap parameters { { QStringLiteral("_et"), 1000 + i },
                { QStringLiteral("_sc"), QStringLiteral("SettingsPage") },
                { QStringLiteral("_si"), 4'000'000'000'000LL + i }, { QStringLiteral("_sid"), 1'700'000'000 },
                { QStringLiteral("label"), QStringLiteral("mouse button %1").arg(i) } };
            list.push_back(*APMEvent::initWithOrigin(QStringLiteral("auto"), false, QStringLiteral("_e"),
                1'700'000'000.0 + i, 0, parameters, EventParameterLimits()));
        }
        return list;
    }();
    return made;
}

// Where the databases go: RAW_EVENT_BENCH_DIR, else /dev/shm when there is
// one. On a disk, the sync at every commit costs milliseconds and hides
// everything else on both sides; in memory the figure shows our own work.
inline QString benchFolder()
{
    const QString chosen = qEnvironmentVariable("RAW_EVENT_BENCH_DIR");
    if (!chosen.isEmpty())
        return chosen;
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

// A database with the measurement schema in a folder of its own.
struct Fixture {
    QTemporaryDir dir { benchFolder() + QStringLiteral("/raw_event_insert-XXXXXX") };
    QString path() const { return dir.filePath(APMDatabase::kDatabaseName); }
    std::unique_ptr<APMDatabase> open() const
    {
        APMError error;
        auto database = APMDatabase::initWithDatabasePath(path(), nullptr, &error);
        if (!database)
            std::fprintf(stderr, "cannot open database: %s\n", qPrintable(error.description()));
        return database;
    }
};

struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool run()
    {
        const int result = sqlite3_step(handle);
        sqlite3_reset(handle);
        return result == SQLITE_DONE;
    }
};

inline void BM_BareSqlite(benchmark::State& state)
{
    // The same rows: each event's wire form without its name, the metadata
    // row stored once beforehand.
    Fixture fixture;
    const auto bundle = metadata();
    const QByteArray metadataBytes = bundle->protoBuffer().value_or(QByteArray());
    const qint64 fingerprint = apm_64LSBMD5(metadataBytes);
    {
        auto database = fixture.open(); // creates the schema, then closes
        if (!database || !database->insertIfNotExistsRawEventMetadata(*bundle, nullptr)) {
            state.SkipWithError("cannot prepare the database");
            return;
        }
    }
    struct Row {
        QByteArray name;
        double timestamp;
        QByteArray data;
    };
    std::vector<Row> rows;
    for (const APMEvent& event : events()) {
        auto proto = event.protoEvent();
        APMPBClearField(proto.get(), kEventNameSlot);
        rows.push_back(
            { event.name().toUtf8(), event.timestamp(), proto->protoBuffer().value_or(QByteArray()) });
    }

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(fixture.path().toUtf8().constData(), &db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK) {
        sqlite3_close(db);
        state.SkipWithError("cannot open the database");
        return;
    }
    {
        Statement begin(db, "BEGIN EXCLUSIVE TRANSACTION");
        Statement end(db, "END TRANSACTION");
        Statement insert(db,
            "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
            "VALUES (?, ?, ?, ?, ?)");
        size_t next = 0;
        for (auto _ : state) {
            const Row& row = rows[next++ % rows.size()];
            sqlite3_bind_text(insert.handle, 1, row.name.constData(), int(row.name.size()), SQLITE_STATIC);
            sqlite3_bind_double(insert.handle, 2, row.timestamp);
            sqlite3_bind_int64(insert.handle, 3, fingerprint);
            sqlite3_bind_blob(insert.handle, 4, row.data.constData(), int(row.data.size()), SQLITE_STATIC);
            sqlite3_bind_int64(insert.handle, 5, 0);
            if (!begin.run() || !insert.run() || !end.run()) {
                state.SkipWithError(sqlite3_errmsg(db));
                break;
            }
        }
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

} // namespace raw_event_bench
