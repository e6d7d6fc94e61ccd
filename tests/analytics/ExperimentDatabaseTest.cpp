// The experiment database: snapshots stored as pending, activated and
// launched, the activation split by experiment id, automatic activation at
// start, the age limit, and rows that no longer decode.

#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/wire/APMPBExperiment.h"
#include "analytics/wire/APMPBFlag.h"
#include "analytics/base/APMError.h"
#include "analytics/store/APMSqliteStore.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBSnapshot.h"
#include "fakes/FakeExperimentServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace experiment_database_test {

constexpr double kNow = 1'700'000'000.0;

APMESnapshot snapshotOf(const QString& sdk, double time, QMap<qint64, QVariantMap> experiments, bool marked = false)
{
    APMESnapshot snapshot(sdk, time);
    for (auto it = experiments.constBegin(); it != experiments.constEnd(); ++it)
        snapshot.setExperiment(it.key(), it.value());
    snapshot.setManuallyActivated(marked);
    return snapshot;
}

QStringList namesOf(const std::optional<QList<APMESnapshot>>& snapshots)
{
    QStringList names;
    for (const APMESnapshot& snapshot : snapshots.value_or(QList<APMESnapshot>()))
        names << snapshot.sdkName();
    return names;
}

class ExperimentDatabaseTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(APMEDatabase::kDatabaseName);
    std::unique_ptr<APMEDatabase> db = APMEDatabase::initWithPath(path);
};

} // namespace experiment_database_test

using namespace experiment_database_test;

TEST_F(ExperimentDatabaseTest, PendingSnapshotsKeepTheirTimeMarkAndFlags)
{
    ASSERT_TRUE(db);
    const QVariantMap flags { { "on", true }, { "ratio", 0.25 }, { "name", "blue" }, { "count", 7 } };
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots(
        { snapshotOf("a", kNow, { { 5, flags } }, true), snapshotOf("b", kNow + 1, { { 6, {} } }) }, nullptr));
    // A second write for an SDK replaces its row.
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({ snapshotOf("b", kNow + 2, { { 7, {} } }) }, nullptr));
    const auto pending = db->fetchAllPendingSnapshots(nullptr);
    ASSERT_EQ(namesOf(pending), (QStringList { "a", "b" }));
    EXPECT_TRUE(pending->at(0).manuallyActivated());
    EXPECT_EQ(pending->at(0).timestamp(), kNow);
    const QVariantMap stored = pending->at(0).flagsByExperimentID().value(5);
    EXPECT_EQ(stored.value("on").toLongLong(), 1); // booleans given by value travel as integers
    EXPECT_EQ(stored.value("ratio").toDouble(), 0.25);
    EXPECT_EQ(stored.value("name").toString(), "blue");
    EXPECT_EQ(stored.value("count").toLongLong(), 7);
    EXPECT_FALSE(pending->at(1).manuallyActivated());
    EXPECT_EQ(pending->at(1).experimentIDs(), (QList<qint64> { 7 }));
}

TEST_F(ExperimentDatabaseTest, ActivationSplitsLaunchedFromActivatedExperiments)
{
    ASSERT_TRUE(db->upsertSnapshot(snapshotOf("a", kNow, { { 3, { { "f", 1 } } } }), APMEDatabase::kActivatedTable,
        kNow, std::nullopt, nullptr));
    const auto launchedOnly = snapshotOf("a", kNow + 5, { { 0, { { "f", 2 } } } });
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({ launchedOnly }, nullptr));
    ASSERT_TRUE(db->activateSnapshot(launchedOnly, kNow + 10, nullptr));
    EXPECT_TRUE(db->fetchAllPendingSnapshots(nullptr)->isEmpty());
    const auto launched = db->fetchAllLaunchedSnapshots(nullptr);
    ASSERT_EQ(namesOf(launched), QStringList { "a" });
    EXPECT_EQ(launched->first().timestamp(), kNow + 10);
    // The activated row is left as it was.
    const auto activated = db->fetchAllActivatedSnapshots(nullptr);
    ASSERT_EQ(namesOf(activated), QStringList { "a" });
    EXPECT_EQ(activated->first().experimentIDs(), (QList<qint64> { 3 }));

    const auto mixed = snapshotOf("a", kNow + 20, { { 0, { { "f", 4 } } }, { 8, { { "g", 1 } } } });
    ASSERT_TRUE(db->activateSnapshot(mixed, kNow + 20, nullptr));
    EXPECT_EQ(db->fetchAllActivatedSnapshots(nullptr)->first().experimentIDs(), (QList<qint64> { 8 }));
    EXPECT_EQ(db->fetchAllLaunchedSnapshots(nullptr)->first().flagByName("f").toLongLong(), 4);
}

TEST_F(ExperimentDatabaseTest, AtStartUnmarkedPendingSnapshotsActivateAndOldActivatedOnesGo)
{
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots(
        { snapshotOf("waits", kNow - 50, { { 1, {} } }, true), snapshotOf("auto", kNow - 40, { { 2, {} } }) },
        nullptr));
    ASSERT_TRUE(db->upsertSnapshot(snapshotOf("old", 0, { { 9, {} } }), APMEDatabase::kActivatedTable,
        kNow - APMEDatabase::kStaleActivatedAge, std::nullopt, nullptr));
    ASSERT_TRUE(db->upsertSnapshot(snapshotOf("young", 0, { { 9, {} } }), APMEDatabase::kActivatedTable,
        kNow - APMEDatabase::kStaleActivatedAge + 1, std::nullopt, nullptr));
    ASSERT_TRUE(db->performTransaction([&] {
        return db->deleteStaleActivatedSnapshots(kNow, nullptr) && db->activatePendingSnapshotsAutomatically(nullptr);
    }));
    EXPECT_EQ(namesOf(db->fetchAllPendingSnapshots(nullptr)), QStringList { "waits" });
    const auto activated = db->fetchAllActivatedSnapshots(nullptr);
    EXPECT_EQ(namesOf(activated), (QStringList { "young", "auto" }));
    EXPECT_EQ(activated->last().timestamp(), kNow - 40); // its own time
}

TEST_F(ExperimentDatabaseTest, ARowThatNoLongerDecodesFailsTheWholeRead)
{
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({ snapshotOf("a", kNow, { { 1, {} } }) }, nullptr));
    db.reset();
    {
        auto store = APMSqliteStore::initWithDatabasePath(path, nullptr);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->upsertRecord({ { "sdk_name", "broken" }, { "snapshotProto", QByteArray("\xff\xff", 2) },
                                            { "timestamp", kNow }, { "manually_activated", 0 } },
            APMEDatabase::kPendingTable, nullptr));
    }
    db = APMEDatabase::initWithPath(path);
    ASSERT_TRUE(db);
    APMError error;
    EXPECT_FALSE(db->fetchAllPendingSnapshots(&error).has_value());
    EXPECT_EQ(error.code(), 2);
    // The automatic activation refuses it too, inside its transaction.
    EXPECT_FALSE(db->activatePendingSnapshotsAutomatically(nullptr));
}

TEST_F(ExperimentDatabaseTest, SnapshotsFromTheWire)
{
    // Two experiments of one id: the later one wins.
    const auto response = fakes::FakeExperimentServer::encodeResponse(
        { { "sdk", { { 4, { { "f", 1 } } }, { 4, { { "g", "two" } } } } } }, {});
    ASSERT_LT(response.size(), 130);
    const auto message = APMPBSnapshot::initWithBuffer(response.mid(2)); // past the field key and length
    ASSERT_TRUE(message);
    const auto snapshot = APMESnapshot::initWithProtobuf(*message, kNow);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->flagsByExperimentID().value(4), (QVariantMap { { "g", "two" } }));
    // Without an SDK name there is no snapshot.
    EXPECT_FALSE(APMESnapshot::initWithProtobuf(*APMPBSnapshot::initWithMessageInfo(), kNow));
}

TEST_F(ExperimentDatabaseTest, ResetAndDelete)
{
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({ snapshotOf("a", kNow, { { 1, {} } }) }, nullptr));
    db->reset();
    EXPECT_TRUE(db->fetchAllPendingSnapshots(nullptr)->isEmpty());
    db->closeAndDelete();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(db->fetchAllPendingSnapshots(nullptr).has_value());
    EXPECT_FALSE(APMEDatabase::initWithPath(QString()));
}

namespace experiment_database_test {

std::shared_ptr<APMPBFlag> flagMessage(const char* name, int valueSlot, const QVariant& value)
{
    std::shared_ptr<APMPBFlag> flag = APMPBFlag::initWithMessageInfo();
    if (name)
        APMPBSetStringField(flag.get(), 0, QString::fromLatin1(name));
    switch (valueSlot) {
    case 1:
        APMPBSetInt64Field(flag.get(), 1, value.toLongLong());
        break;
    case 4:
        APMPBSetBoolField(flag.get(), 4, value.toBool());
        break;
    default:
        break;
    }
    return flag;
}

} // namespace experiment_database_test

// A boolean flag from the service comes back from the database as a
// boolean flag, not as an integer.
TEST_F(ExperimentDatabaseTest, ABooleanFlagFromTheWireStaysABoolean)
{
    ASSERT_TRUE(db);
    const auto response = fakes::FakeExperimentServer::encodeResponse({ { "sdk", { { 4, { { "on", true } } } } } }, {});
    const auto message = APMPBSnapshot::initWithBuffer(response.mid(2));
    ASSERT_TRUE(message);
    const auto snapshot = APMESnapshot::initWithProtobuf(*message, kNow);
    ASSERT_TRUE(snapshot);
    ASSERT_TRUE(db->upsertPendingExperimentSnapshots({ *snapshot }, nullptr));
    const auto pending = db->fetchAllPendingSnapshots(nullptr);
    ASSERT_EQ(namesOf(pending), QStringList { "sdk" });
    EXPECT_EQ(pending->first().flagByName("on").typeId(), QMetaType::Bool);
    const auto experiments = pending->first().experiments();
    ASSERT_EQ(experiments.size(), 1);
    const auto flag = experiments.first().flagWithName("on");
    ASSERT_TRUE(flag);
    EXPECT_TRUE(APMPBHasField(flag.get(), 4));
    EXPECT_FALSE(APMPBHasField(flag.get(), 1));
    // The wire form written back carries the boolean field as well.
    const auto written = experiments.first().proto();
    const auto flags = APMPBGetArrayField<APMPBFlag>(written.get(), 1);
    ASSERT_EQ(flags.size(), 1u);
    EXPECT_TRUE(APMPBGetBoolField(flags.front().get(), 4));
}

TEST(ExperimentModel, ExperimentsAndSnapshotsRefuseWhatCannotBeStored)
{
    using Messages = QList<std::shared_ptr<const NANOMessageBase>>;
    const std::shared_ptr<const NANOMessageBase> on = flagMessage("on", 4, true);
    const std::shared_ptr<const NANOMessageBase> nameless = flagMessage(nullptr, 1, 3);
    const std::shared_ptr<const NANOMessageBase> notAFlag = APMPBExperiment::initWithMessageInfo();
    struct Case {
        const char* what;
        QVariant id;
        std::optional<Messages> flags;
        bool made;
    };
    const Case cases[] = {
        { "no id", QVariant(), Messages {}, false },
        { "an id that is no number", QStringLiteral("7"), Messages {}, false },
        { "no flag list", 7, std::nullopt, false },
        { "a message that is no flag", 7, Messages { on, notAFlag }, false },
        { "a null element", 7, Messages { nullptr }, false },
        { "flags", 7, Messages { on }, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(APMEExperiment::initWithExperimentID(c.id, c.flags).has_value(), c.made);
    }

    auto experiment = APMEExperiment::initWithExperimentID(7, Messages {});
    ASSERT_TRUE(experiment);
    experiment->addFlag(nullptr);
    experiment->addFlag(notAFlag);
    experiment->addFlag(nameless);
    EXPECT_TRUE(experiment->flags().isEmpty());
    experiment->addFlag(on);
    experiment->addFlag(flagMessage("on", 1, 5)); // a later flag of a name replaces the earlier one
    ASSERT_EQ(experiment->flags().size(), 1);
    EXPECT_EQ(APMPBGetInt64Field(experiment->flagWithName("on").get(), 1), 5);
    EXPECT_FALSE(experiment->flagWithName(QString()));

    using Experiments = QList<std::shared_ptr<const APMEExperiment>>;
    const auto shared = std::make_shared<const APMEExperiment>(*experiment);
    EXPECT_FALSE(APMESnapshot::initWithSDKName(QString(), Experiments { shared }, kNow));
    EXPECT_FALSE(APMESnapshot::initWithSDKName(7, Experiments { shared }, kNow));
    EXPECT_FALSE(APMESnapshot::initWithSDKName(QStringLiteral("sdk"), std::nullopt, kNow));
    EXPECT_FALSE(APMESnapshot::initWithSDKName(QStringLiteral("sdk"), Experiments { nullptr }, kNow));
    auto snapshot = APMESnapshot::initWithSDKName(QStringLiteral("sdk"), Experiments { shared }, kNow);
    ASSERT_TRUE(snapshot);
    snapshot->addFlag(on, QVariant()); // no experiment id
    snapshot->addFlag(notAFlag, 8);
    EXPECT_EQ(snapshot->experimentIDs(), QList<qint64> { 7 });
    snapshot->addFlag(on, 8); // a new experiment for a new id
    EXPECT_EQ(snapshot->experimentIDs(), (QList<qint64> { 7, 8 }));
    EXPECT_EQ(snapshot->flagByName("on").typeId(), QMetaType::LongLong); // experiment 7 comes first
}
