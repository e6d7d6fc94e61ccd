#include "analytics/base/APMError.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/model/APMPropertyFilter.h"
#include "fakes/TempHome.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

struct Flags {
    bool sessionScoped = false;
    bool dynamic = false;
    bool sequence = false;
};

// An encoded event filter message with the given flags (tags 8, 6, 7).
QByteArray eventFilterData(qint32 filterID, const QString& eventName, Flags flags)
{
    auto message = APMPBEventFilter::initWithMessageInfo();
    APMPBSetInt32Field(message.get(), 0, filterID);
    APMPBSetStringField(message.get(), 1, eventName);
    APMPBSetBoolField(message.get(), 5, flags.dynamic);
    APMPBSetBoolField(message.get(), 6, flags.sequence);
    APMPBSetBoolField(message.get(), 7, flags.sessionScoped);
    return message->protoBuffer().value();
}

// An encoded property filter message with the given flags (tags 6, 4, 5).
QByteArray propertyFilterData(qint32 filterID, const QString& propertyName, Flags flags)
{
    auto message = APMPBPropertyFilter::initWithMessageInfo();
    APMPBSetInt32Field(message.get(), 0, filterID);
    APMPBSetStringField(message.get(), 1, propertyName);
    APMPBSetBoolField(message.get(), 3, flags.dynamic);
    APMPBSetBoolField(message.get(), 4, flags.sequence);
    APMPBSetBoolField(message.get(), 5, flags.sessionScoped);
    return message->protoBuffer().value();
}

APMEventFilter eventFilter(qint32 audienceID, qint32 filterID, const QString& eventName, Flags flags = {})
{
    return APMEventFilter(audienceID, filterID, eventName, eventFilterData(filterID, eventName, flags),
        flags.sessionScoped, flags.dynamic, flags.sequence);
}

APMPropertyFilter propertyFilter(qint32 audienceID, qint32 filterID, const QString& name, Flags flags = {})
{
    return APMPropertyFilter(audienceID, filterID, name, propertyFilterData(filterID, name, flags),
        flags.sessionScoped, flags.dynamic, flags.sequence);
}

class DatabaseFiltersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = home_.path() + QStringLiteral("/filters.sql");
        APMError error;
        database_ = APMDatabase::initWithDatabasePath(path_, nullptr, &error);
        ASSERT_TRUE(database_) << error.description().toStdString();
    }

    std::string sqlite(const QString& sql)
    {
        QProcess process;
        process.start(QStringLiteral("sqlite3"), { path_, sql });
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().trimmed().toStdString();
    }

    fakes::TempHome home_;
    QString path_;
    std::unique_ptr<APMDatabase> database_;
};

TEST_F(DatabaseFiltersTest, FlagsComeFromTheStoredMessage)
{
    APMError error;
    // The column says not session-scoped; the message says otherwise and wins.
    const QByteArray eventData = eventFilterData(1, QStringLiteral("purchase"), { true, false, true });
    ASSERT_TRUE(database_->updateEventFilters(
        { APMEventFilter(7, 1, QStringLiteral("purchase"), eventData, false, false, false) }, &error));
    const QByteArray propertyData = propertyFilterData(3, QStringLiteral("plan"), { true, true, false });
    ASSERT_TRUE(database_->updatePropertyFilters(
        { APMPropertyFilter(7, 3, QStringLiteral("plan"), propertyData, false, false, false) }, &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT session_scoped FROM event_filters")), "0");

    const auto events = database_->eventFiltersForEventName(QStringLiteral("purchase"), &error);
    ASSERT_TRUE(events) << error.description().toStdString();
    ASSERT_EQ(events->size(), 1);
    EXPECT_EQ(events->first().audienceID(), 7);
    EXPECT_EQ(events->first().filterID(), 1);
    EXPECT_EQ(events->first().eventName(), QStringLiteral("purchase"));
    EXPECT_EQ(events->first().data(), eventData);
    EXPECT_TRUE(events->first().isSessionScoped());
    EXPECT_FALSE(events->first().isDynamic());
    EXPECT_TRUE(events->first().isSequence());

    const auto properties = database_->propertyFiltersForPropertyName(QStringLiteral("plan"), &error);
    ASSERT_TRUE(properties) << error.description().toStdString();
    ASSERT_EQ(properties->size(), 1);
    EXPECT_EQ(properties->first().data(), propertyData);
    EXPECT_TRUE(properties->first().isSessionScoped());
    EXPECT_TRUE(properties->first().isDynamic());
    EXPECT_FALSE(properties->first().isSequence());

    // A blob that no longer decodes still gives the filter, flags off.
    sqlite(QStringLiteral("UPDATE event_filters SET data = X'FFFF'"));
    const auto broken = database_->eventFiltersForEventName(QStringLiteral("purchase"), &error);
    ASSERT_TRUE(broken);
    ASSERT_EQ(broken->size(), 1);
    EXPECT_EQ(broken->first().data(), QByteArray::fromHex("ffff"));
    EXPECT_FALSE(broken->first().isSessionScoped() || broken->first().isSequence());

    EXPECT_TRUE(database_->eventFiltersForEventName(QStringLiteral("other"), &error)->isEmpty());
}

TEST_F(DatabaseFiltersTest, AudiencesAndSessionScopedFilters)
{
    APMError error;
    ASSERT_TRUE(database_->updateEventFilters(
        { eventFilter(7, 1, QStringLiteral("a")), eventFilter(7, 2, QStringLiteral("a"), { true }) },
        &error));
    ASSERT_TRUE(database_->updatePropertyFilters(
        { propertyFilter(7, 3, QStringLiteral("p"), { true }), propertyFilter(8, 1, QStringLiteral("p")) },
        &error));

    auto audiences = database_->allAudienceIDs(&error).value();
    std::sort(audiences.begin(), audiences.end());
    EXPECT_EQ(audiences, (QList<qint32> { 7, 8 }));

    const auto sessionScoped = database_->allSessionScopedFilters(&error);
    ASSERT_TRUE(sessionScoped);
    ASSERT_EQ(sessionScoped->keys(), QList<qint32> { 7 });
    auto filterIDs = sessionScoped->value(7);
    std::sort(filterIDs.begin(), filterIDs.end());
    EXPECT_EQ(filterIDs, (QList<qint32> { 2, 3 }));

    ASSERT_TRUE(database_->deleteAllEventFilters(&error));
    ASSERT_TRUE(database_->deleteAllPropertyFilters(&error));
    EXPECT_TRUE(database_->allAudienceIDs(&error)->isEmpty());
}

TEST_F(DatabaseFiltersTest, UpdateRefusalsStopAtTheFirstBadFilter)
{
    struct Case {
        const char* label;
        QList<APMEventFilter> filters;
        qint64 code;
        std::string message;
        std::string rowsAfter;
    };
    const Case cases[] = {
        { "empty list", {}, APMError::InvalidArgument, std::string("Received empty event filters to update"),
            "0" },
        { "empty name",
            { eventFilter(1, 1, QStringLiteral("a")),
                APMEventFilter(1, 2, QString(), "x", false, false, false) },
            APMError::StorageFailure,
            std::string("Received event filter with empty event name for getting dictionary representation"),
            "1" },
        { "empty data",
            { eventFilter(1, 1, QStringLiteral("a")),
                APMEventFilter(1, 2, QStringLiteral("b"), {}, false, false, false),
                eventFilter(1, 3, QStringLiteral("c")) },
            APMError::StorageFailure,
            std::string("Received event filter with empty data for getting dictionary representation"), "1" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        APMError error;
        ASSERT_TRUE(database_->deleteAllEventFilters(&error));
        EXPECT_FALSE(database_->updateEventFilters(c.filters, &error));
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.localizedDescription().toStdString(), c.message);
        EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM event_filters")), c.rowsAfter);
    }

    APMError error;
    EXPECT_FALSE(database_->updatePropertyFilters(
        { APMPropertyFilter(1, 1, QStringLiteral("p"), {}, false, false, false) }, &error));
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received property filter with empty data for getting dictionary representation"));
    EXPECT_FALSE(database_->eventFiltersForEventName(QString(), &error));
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received empty event name for getting event filters"));
    EXPECT_FALSE(database_->propertyFiltersForPropertyName(QString(), &error));
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received empty property name for getting property filters"));
    EXPECT_FALSE(database_->deleteEventFilters({}, &error));
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Received empty event filters to delete"));
    EXPECT_FALSE(database_->deletePropertyFilters({}, &error));
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Received empty property filters to delete"));
}

TEST_F(DatabaseFiltersTest, DeletesThousandsOfFiltersAtOnce)
{
    // Far more pairs than one statement may hold as an OR chain or as bound
    // parameters; the deletion must still take exactly the pairs given.
    constexpr int kAudiences = 50;
    constexpr int kFiltersPerAudience = 100;
    QList<APMEventFilter> events;
    QList<APMPropertyFilter> properties;
    for (int audience = 0; audience < kAudiences; ++audience) {
        for (int filter = 0; filter < kFiltersPerAudience; ++filter) {
            events.append(eventFilter(audience, filter, QStringLiteral("e")));
            properties.append(propertyFilter(audience, filter, QStringLiteral("p")));
        }
    }
    APMError error;
    ASSERT_TRUE(database_->performTransaction([&] {
        return database_->updateEventFilters(events, &error)
            && database_->updatePropertyFilters(properties, &error);
    })) << error.description().toStdString();

    // Delete all but audience 0's filter 5 (and pass one pair twice).
    QList<APMEventFilter> doomedEvents;
    QList<APMPropertyFilter> doomedProperties;
    for (qsizetype i = 0; i < events.size(); ++i) {
        if (i != 5) {
            doomedEvents.append(events.at(i));
            doomedProperties.append(properties.at(i));
        }
    }
    doomedEvents.append(events.at(6));
    ASSERT_TRUE(database_->deleteEventFilters(doomedEvents, &error)) << error.description().toStdString();
    ASSERT_TRUE(database_->deletePropertyFilters(doomedProperties, &error))
        << error.description().toStdString();
    EXPECT_EQ(sqlite(QStringLiteral("SELECT audience_id, filter_id FROM event_filters")), "0|5");
    EXPECT_EQ(sqlite(QStringLiteral("SELECT audience_id, filter_id FROM property_filters")), "0|5");

    // A single pair, and a pair that matches nothing.
    ASSERT_TRUE(database_->deleteEventFilters({ eventFilter(9, 9, QStringLiteral("e")) }, &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM event_filters")), "1");
    ASSERT_TRUE(database_->deleteEventFilters({ events.at(5) }, &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT count(*) FROM event_filters")), "0");
}

TEST_F(DatabaseFiltersTest, FilterResultsRoundTrip)
{
    APMError error;
    ASSERT_TRUE(database_->updateFilterResults(
        { APMFilterResult(1, "cur1", "prev1"), APMFilterResult(2, "cur2", QByteArray()) }, &error));
    EXPECT_EQ(sqlite(QStringLiteral("SELECT group_concat(kind) FROM (SELECT typeof(previous_results) AS kind "
                                    "FROM audience_filter_values ORDER BY audience_id)")),
        "blob,null");

    const auto second = database_->filterResultForAudienceID(2, &error);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->currentResults(), QByteArray("cur2"));
    EXPECT_TRUE(second->previousResults().isNull());

    APMError noError;
    EXPECT_FALSE(database_->filterResultForAudienceID(3, &noError));
    EXPECT_EQ(noError.code(), 0);

    // Replacing a result keeps one row per audience.
    ASSERT_TRUE(database_->updateFilterResults({ APMFilterResult(1, "cur1b", QByteArray()) }, &error));
    const auto all = database_->allFilterResults(&error);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->keys(), (QList<qint32> { 1, 2 }));
    EXPECT_EQ(all->value(1).currentResults(), QByteArray("cur1b"));
    EXPECT_TRUE(all->value(1).previousResults().isEmpty());

    EXPECT_FALSE(database_->updateFilterResults(
        { APMFilterResult(4, "x", "y"), APMFilterResult(5, {}, "y") }, &error));
    EXPECT_EQ(error.code(), APMError::StorageFailure);
    EXPECT_EQ(error.localizedDescription().toStdString(),
        std::string("Received filter result with empty data for getting dictionary representation"));
    EXPECT_TRUE(database_->filterResultForAudienceID(4, &error)); // written before the bad one
    EXPECT_FALSE(database_->updateFilterResults({}, &error));
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Received empty filter results to update"));
}

TEST_F(DatabaseFiltersTest, DeletesFilterResultsByAudience)
{
    sqlite(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
        "INSERT INTO audience_filter_values (audience_id, current_results) SELECT i, X'01' FROM n"));
    QList<APMFilterResult> doomed;
    for (qint32 audience = 1; audience < 3000; ++audience) {
        doomed.append(APMFilterResult(audience, "a", {}));
        doomed.append(APMFilterResult(audience, "b", {})); // the same audience twice
    }
    APMError error;
    ASSERT_TRUE(database_->deleteFilterResults(doomed, &error)) << error.description().toStdString();
    EXPECT_EQ(sqlite(QStringLiteral("SELECT group_concat(audience_id) FROM audience_filter_values")), "0");

    EXPECT_FALSE(database_->deleteFilterResults({}, &error));
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_EQ(
        error.localizedDescription().toStdString(), std::string("Received empty filter results to delete"));
}

} // namespace
