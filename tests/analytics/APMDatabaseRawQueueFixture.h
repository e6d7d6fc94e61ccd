#pragma once

// Shared by the raw-event and upload-queue tests: a measurement database in
// a temporary folder, a persisted configuration in memory, remote settings
// chosen per test, and command-line tools (sqlite3, gzip, md5sum, protoc)
// as independent readers of what was stored.

#include "RemoteConfigTestSupport.h"
#include "ValidatorLogRecorder.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMError.h"
#include "analytics/model/APMEvent.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"
#include "fakes/VirtualTime.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace rawqueue {

// Slots of the bundle message used by these tests.
namespace bundleSlot {
constexpr int32_t userAttributes = 2, endTimestamp = 5, platform = 8, appID = 14, bundleIndex = 24,
                  retryCount = 35;
} // namespace bundleSlot

class MemoryConfigStore final : public APMConfigStore {
public:
    QVariant objectForKey(const QString& key) override { return values_.value(key); }
    bool setObject(const QVariant& value, const QString& key) override
    {
        if (value.isValid())
            values_.insert(key, value);
        else
            values_.remove(key);
        return true;
    }
    void clearAllData() override { values_.clear(); }
    bool synchronize() override { return true; }

private:
    QHash<QString, QVariant> values_;
};

// Runs a program with the input on standard input; its standard output, or
// a test failure when it does not end well.
inline QByteArray runTool(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

// The gzip tool as an independent compressor and decompressor.
inline QByteArray gzipTool(const QByteArray& data)
{
    return runTool(QStringLiteral("gzip"), { QStringLiteral("-c") }, data);
}
inline QByteArray gunzipTool(const QByteArray& data)
{
    return runTool(QStringLiteral("gzip"), { QStringLiteral("-dc") }, data);
}

// A bundle holding the metadata fields the engine puts into raw-event
// metadata: platform, app ID and one user property.
inline std::unique_ptr<APMPBMeasurementBundle> metadataBundle(const QString& userPropertyValue)
{
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetStringField(bundle.get(), bundleSlot::platform, QStringLiteral("linux"));
    APMPBSetStringField(bundle.get(), bundleSlot::appID, QStringLiteral("1:42:linux:cafe"));
    std::vector<std::unique_ptr<APMPBUserAttribute>> attributes;
    attributes.push_back(APMPBUserAttribute::initWithMessageInfo());
    APMPBSetInt64Field(attributes.back().get(), 0, 1'700'000'000'000);
    APMPBSetStringField(attributes.back().get(), 1, QStringLiteral("favourite"));
    APMPBSetStringField(attributes.back().get(), 2, userPropertyValue);
    APMPBSetArrayField(bundle.get(), bundleSlot::userAttributes, attributes);
    return bundle;
}

inline QByteArray encoded(const NANOMessageBase& message)
{
    return message.protoBuffer().value_or(QByteArray());
}

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ValidatorLogRecorder::useTestHome();
        ASSERT_TRUE(dir_.isValid());
        APMPersistedConfig::Environment environment;
        environment.queue = &time_;
        environment.storeQueue = &time_;
        environment.store = std::make_unique<MemoryConfigStore>();
        environment.sharedUserDefaults = &sharedDefaults_;
        persisted_
            = APMPersistedConfig::initWithSuiteName(APMPersistedConfig::kSuiteName, std::move(environment));
        ASSERT_TRUE(persisted_);
        // The stale pass is not due unless a test says so.
        persisted_->setLastDeleteStaleBundlesTimestamp(now());
        APMError error;
        database_ = APMDatabase::initWithDatabasePath(path(), persisted_.get(), &error);
        ASSERT_TRUE(database_) << error.description().toStdString();
    }

    void TearDown() override { APMMeasurementRemoteConfig::setRemoteConfig(nullptr); }

    QString path() const { return dir_.filePath(APMDatabase::kDatabaseName); }
    static double now() { return QDateTime::currentMSecsSinceEpoch() / 1000.0; }

    // Remote settings by key, values as the server writes them.
    void useSettings(const std::vector<std::pair<QString, QString>>& settings)
    {
        rcfg::ConfigBuilder builder;
        for (const auto& [key, value] : settings)
            builder.setting(key, value);
        harness_.store(builder);
        remoteConfig_ = harness_.make();
        ASSERT_TRUE(remoteConfig_);
        APMMeasurementRemoteConfig::setRemoteConfig(remoteConfig_);
    }

    // The sqlite3 tool's output for the statements, one line per row,
    // columns separated by "|".
    QStringList sql(const QString& statements)
    {
        const QString out
            = QString::fromUtf8(runTool(QStringLiteral("sqlite3"), { path() }, statements.toUtf8()))
                  .trimmed();
        return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
    }
    QString sqlValue(const QString& query)
    {
        const QStringList lines = sql(query);
        return lines.isEmpty() ? QString() : lines.first();
    }

    APMEvent event(const QString& name, double timestamp, const QVariantMap& parameters = {})
    {
        const std::optional<APMEvent> made = APMEvent::initWithOrigin(
            QStringLiteral("app"), false, name, timestamp, 0, parameters, EventParameterLimits());
        EXPECT_TRUE(made);
        return *made;
    }

    QTemporaryDir dir_;
    fakes::VirtualTime time_;
    MemoryConfigStore sharedDefaults_;
    std::unique_ptr<APMPersistedConfig> persisted_;
    std::unique_ptr<APMDatabase> database_;
    rcfg::Harness harness_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
};

} // namespace rawqueue
