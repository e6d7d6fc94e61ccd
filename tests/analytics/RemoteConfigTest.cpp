// The remote configuration's life: creation, update and storage, parsing into
// caches that replace the old ones whole, event rules, addresses and expiry,
// and the modules it offers event-editing programs.

#include "RemoteConfigTestSupport.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementRemoteConfig.h"
#include "analytics/rules/APMPEventEditing.h"
#include "analytics/rules/APMPKeyValueStore.h"
#include "analytics/rules/APMPMessageLogger.h"
#include "analytics/rules/APMPObjectProvider.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/rules/APMPixieLogger.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBFieldAccess.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace rcfg;

namespace {

QString setting(const char* key)
{
    return QString::fromLatin1(key);
}

// ---- Creation -------------------------------------------------------------

TEST(RemoteConfig, CreationNeedsAnAppIDAndADatabase)
{
    Harness h;
    EXPECT_FALSE(APMRemoteConfig::initWithAppID(QString(), h.database, nullptr, h.environment()));
    EXPECT_TRUE(h.logged(1, 29000));
    EXPECT_FALSE(APMRemoteConfig::initWithAppID(kAppID, nullptr, nullptr, h.environment()));
    EXPECT_TRUE(h.logged(1, 29001));
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_FALSE(config->isDefaultInstance());
    EXPECT_EQ(config->appID(), kAppID);
}

TEST(RemoteConfig, StartsFromTheStoredConfiguration)
{
    Harness h;
    ConfigBuilder builder;
    builder.version(12).setting(setting("measurement.upload.retry_count"), QStringLiteral("9"));
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->version(), 12);
    EXPECT_EQ(config->uploadingRetryCount(), 9);
    EXPECT_TRUE(h.logged(7, 29014));
    EXPECT_EQ(h.database->writes, 0);
    EXPECT_TRUE(h.backgroundChecks.contains(QStringLiteral("measurementConfigFromDatabase")));
}

TEST(RemoteConfig, UnreadableStoreIsReportedAndLeavesDefaults)
{
    Harness h;
    h.database->readFails = true;
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_TRUE(h.logged(2, 29016));
    EXPECT_EQ(config->version(), -1);
    EXPECT_FALSE(config->remoteConfigProto());
}

TEST(RemoteConfig, AGivenConfigurationIsStoredAndAdopted)
{
    Harness h;
    ConfigBuilder builder;
    builder.version(3).setting(setting("measurement.upload.retry_count"), QStringLiteral("2"));
    const auto config
        = APMRemoteConfig::initWithAppID(kAppID, h.database, builder.build(), nullptr, h.environment());
    ASSERT_TRUE(config);
    EXPECT_EQ(h.database->writes, 1);
    EXPECT_EQ(config->version(), 3);
    EXPECT_EQ(config->uploadingRetryCount(), 2);
    // What was stored reads back as the same configuration.
    const auto stored = config->measurementConfigFromDatabase();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->protoBuffer(), config->remoteConfigProto()->protoBuffer());
}

// ---- Update -----------------------------------------------------------------

TEST(RemoteConfig, UpdateRefusals)
{
    struct Row {
        const char* what;
        std::function<std::shared_ptr<const APMPBMeasurementConfig>()> config;
        QString origin;
        FakeDatabase::Failure failure;
        qint64 level;
        qint64 code;
    };
    const auto valid = [] {
        ConfigBuilder b;
        return b.setting(setting("measurement.upload.retry_count"), QStringLiteral("2")).build();
    };
    const std::vector<Row> rows = {
        { "no configuration", [] { return nullptr; }, QString(), FakeDatabase::Failure::None, 5, 29003 },
        { "another app",
            [] {
                ConfigBuilder b(QStringLiteral("1:999:linux:other"));
                return b.setting(setting("measurement.upload.retry_count"), QStringLiteral("2")).build();
            },
            QString(), FakeDatabase::Failure::None, 2, 29004 },
        { "no app ID",
            [] {
                ConfigBuilder b { QString() };
                return b.setting(setting("measurement.upload.retry_count"), QStringLiteral("2")).build();
            },
            QString(), FakeDatabase::Failure::None, 2, 29004 },
        { "AdNest app ID missing for origin am", valid, QStringLiteral("am"), FakeDatabase::Failure::None, 2,
            29022 },
        { "no settings",
            [] {
                ConfigBuilder b;
                return b.version(3).uploadSubdomain(QStringLiteral("eu")).build();
            },
            QString(), FakeDatabase::Failure::None, 2, 29012 },
        { "store fails with an error", valid, QString(), FakeDatabase::Failure::WithError, 1, 29005 },
        // A failed write is a failure even when the store gives no reason.
        { "store fails without an error", valid, QString(), FakeDatabase::Failure::WithoutError, 1, 29005 },
    };
    for (const Row& row : rows) {
        Harness h;
        h.origin = row.origin;
        h.database->writeFailure = row.failure;
        const auto config = h.make();
        ASSERT_TRUE(config);
        h.lines.clear();
        EXPECT_FALSE(config->updateMeasurementConfig(row.config())) << row.what;
        EXPECT_TRUE(h.logged(row.level, row.code)) << row.what;
        EXPECT_FALSE(config->remoteConfigProto()) << row.what;
        EXPECT_EQ(config->uploadingRetryCount(), 6) << row.what;
        EXPECT_TRUE(h.backgroundChecks.contains(QStringLiteral("updateMeasurementConfig:"))) << row.what;
    }
}

// A configuration for this app that carries no settings is refused before
// anything is written: the old configuration, its settings and its upload
// host all stay, so uploads never go to the new subdomain with old settings.
TEST(RemoteConfig, AConfigurationWithoutSettingsIsNeitherStoredNorAdopted)
{
    Harness h;
    ConfigBuilder first;
    first.version(1).setting(setting("measurement.upload.retry_count"), QStringLiteral("9"));
    h.store(first);
    const QByteArray storedBefore = h.database->bytes;
    const auto config = h.make();
    ASSERT_TRUE(config);

    ConfigBuilder bare;
    bare.version(2).uploadSubdomain(QStringLiteral("eu"));
    EXPECT_FALSE(config->updateMeasurementConfig(bare.build()));

    EXPECT_EQ(h.database->writes, 0);
    EXPECT_EQ(h.database->bytes, storedBefore);
    EXPECT_EQ(config->version(), 1);
    EXPECT_EQ(config->uploadingRetryCount(), 9);
    EXPECT_EQ(config->uploadSubdomain(), QString());
    EXPECT_EQ(config->uploadURL().toString(), QStringLiteral("https://collect.test/a"));

    // One written by an earlier version is not adopted at start either.
    Harness later;
    later.store(bare);
    const auto restarted = later.make();
    ASSERT_TRUE(restarted);
    EXPECT_FALSE(restarted->remoteConfigProto());
    EXPECT_EQ(restarted->uploadURL().toString(), QStringLiteral("https://collect.test/a"));
}

TEST(RemoteConfig, AdNestAppIDIsCheckedOnlyForTheAdNestOrigin)
{
    Harness h;
    h.origin = QStringLiteral("am");
    const auto config = h.make();
    ASSERT_TRUE(config);
    ConfigBuilder builder;
    builder.adNestAppID(kAppID).setting(setting("measurement.upload.retry_count"), QStringLiteral("3"));
    EXPECT_TRUE(config->updateMeasurementConfig(builder.build()));
    EXPECT_EQ(config->uploadingRetryCount(), 3);
}

TEST(RemoteConfig, DefaultInstanceRefusesWhatNeedsADatabase)
{
    Harness h;
    const auto config = APMRemoteConfig::initWithAppID(QString(), nullptr, nullptr, nullptr, h.environment());
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->isDefaultInstance());
    ConfigBuilder builder { QString() };
    EXPECT_FALSE(config->updateMeasurementConfig(builder.setting(setting("a"), QStringLiteral("1")).build()));
    EXPECT_TRUE(h.logged(2, 29002));
    EXPECT_FALSE(config->measurementConfigFromDatabase());
    EXPECT_TRUE(h.logged(2, 29015));
    EXPECT_EQ(config->lastRemoteConfigUpdateTimestamp(), 0);
    EXPECT_TRUE(h.logged(2, 29008));
    EXPECT_FALSE(config->isExpired());
    EXPECT_TRUE(h.logged(2, 29007));
}

// ---- Parsing ----------------------------------------------------------------

ConfigBuilder& fullConfig(ConfigBuilder& b)
{
    return b.version(41)
        .setting(setting("measurement.upload.retry_count"), QStringLiteral("10"))
        .eventConfig(QStringLiteral("session_start"), true, true, 5) // public name with an internal one
        .eventConfig(QStringLiteral("my_event"), false, std::nullopt, 65535)
        .dataControl(QStringLiteral("ads"))
        .dataControl(QString())
        .dataControl(QStringLiteral("analytics"))
        .consent({ { 1, 1 }, { 2, 2 }, { 9, 1 }, { 3, 7 } }, { { 4, 3 }, { 1, 0 } },
            { QStringLiteral("svc_a"), QStringLiteral("svc_b") }, false, { { 3, 2 } })
        .psm(15, 12, 45);
}

TEST(RemoteConfig, ParsesEverySection)
{
    Harness h;
    ConfigBuilder builder;
    fullConfig(builder).eventConfig(QString(), true);
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_TRUE(h.logged(5, 29013)); // the unnamed event configuration

    EXPECT_EQ(config->uploadingRetryCount(), 10);
    // Found under the internal name only.
    EXPECT_TRUE(config->eventConfigWithName(QStringLiteral("_s")));
    EXPECT_FALSE(config->eventConfigWithName(QStringLiteral("session_start")));
    EXPECT_EQ(config->dataControls(), (QStringList { QStringLiteral("ads"), QStringLiteral("analytics") }));
    // Unknown type and value numbers are skipped.
    EXPECT_EQ(config->consentDefaults(),
        (QVariantMap { { QStringLiteral("ad_storage"), QStringLiteral("granted") },
            { QStringLiteral("analytics_storage"), QStringLiteral("denied") } }));
    EXPECT_EQ(config->consentDelegations(),
        (QVariantMap { { QStringLiteral("ad_personalization"), QStringLiteral("ad_user_data") } }));
    EXPECT_EQ(
        config->corePlatformServices(), (QSet<QString> { QStringLiteral("svc_a"), QStringLiteral("svc_b") }));
    EXPECT_FALSE(config->isDMARegion());
    EXPECT_EQ(config->regionalDefaults(),
        (QVariantMap { { QStringLiteral("ad_user_data"), QStringLiteral("denied") } }));
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 15);
    EXPECT_EQ(config->hashPrefixBitLengthPhone(), 12);
    EXPECT_EQ(config->maxSignInDelayInDays(), 45);
}

TEST(RemoteConfig, AConfigurationWithoutSettingsOrForAnotherAppChangesNothing)
{
    Harness h;
    ConfigBuilder first;
    fullConfig(first);
    h.store(first);
    const auto config = h.make();
    ASSERT_TRUE(config);

    ConfigBuilder empty;
    empty.version(99).dataControl(QStringLiteral("other"));
    config->parseRemoteConfigFromMeasurementConfig(*empty.build());
    EXPECT_TRUE(h.logged(2, 29012));
    ConfigBuilder foreign(QStringLiteral("1:999:linux:other"));
    foreign.setting(setting("measurement.upload.retry_count"), QStringLiteral("20"));
    config->parseRemoteConfigFromMeasurementConfig(*foreign.build());

    EXPECT_EQ(config->uploadingRetryCount(), 10);
    EXPECT_EQ(config->dataControls(), (QStringList { QStringLiteral("ads"), QStringLiteral("analytics") }));
    EXPECT_TRUE(config->eventConfigWithName(QStringLiteral("_s")));
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 15);
}

// A new configuration replaces the old one whole: whatever it does not carry
// is back at its default, nothing of the old one lingers.
TEST(RemoteConfig, ANewConfigurationReplacesTheOldOneWhole)
{
    Harness h;
    ConfigBuilder first;
    fullConfig(first).program(goodProgram());
    h.store(first);
    const auto config = h.make();
    ASSERT_TRUE(config);
    ASSERT_TRUE(config->eventEditing());
    EXPECT_EQ(config->uploadingRetryCount(), 10);

    ConfigBuilder second;
    second.version(42).setting(setting("measurement.upload.retry_time"), QStringLiteral("120000"));
    ASSERT_TRUE(config->updateMeasurementConfig(second.build()));
    EXPECT_EQ(config->version(), 42);
    EXPECT_EQ(config->uploadingRetryInterval(), 120);
    EXPECT_EQ(config->uploadingRetryCount(), 6);
    EXPECT_FALSE(config->eventConfigWithName(QStringLiteral("_s")));
    EXPECT_TRUE(config->dataControls().isEmpty());
    EXPECT_TRUE(config->consentDefaults().isEmpty());
    EXPECT_TRUE(config->corePlatformServices().isEmpty());
    EXPECT_TRUE(config->isDMARegion());
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 14);
    EXPECT_FALSE(config->eventEditing());
}

// A program that does not load is dropped on its own: the rest of its
// configuration applies, and the previous configuration's program goes too.
TEST(RemoteConfig, AProgramThatFailsToLoadDropsOnlyTheProgram)
{
    Harness h;
    ConfigBuilder first;
    first.setting(setting("measurement.upload.retry_count"), QStringLiteral("10")).program(goodProgram());
    h.store(first);
    const auto config = h.make();
    ASSERT_TRUE(config);
    ASSERT_TRUE(config->eventEditing());
    EXPECT_TRUE(h.logged(7, 29027));

    ConfigBuilder second;
    fullConfig(second).setting(setting("measurement.upload.retry_count"), QStringLiteral("11"));
    second.program(program(entity(9))); // no such entity type
    second.program(goodProgram()); // only the first program is loaded
    ASSERT_TRUE(config->updateMeasurementConfig(second.build()));
    EXPECT_TRUE(h.logged(1, 29026));
    EXPECT_FALSE(config->eventEditing());
    EXPECT_EQ(config->version(), 41);
    EXPECT_EQ(config->uploadingRetryCount(), 11);
    EXPECT_EQ(config->dataControls(), (QStringList { QStringLiteral("ads"), QStringLiteral("analytics") }));
    EXPECT_FALSE(config->consentDefaults().isEmpty());
    EXPECT_FALSE(config->isDMARegion());
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 15);
}

TEST(RemoteConfig, ResetGoesBackToDefaults)
{
    Harness h;
    ConfigBuilder builder;
    fullConfig(builder);
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    config->reset();
    EXPECT_EQ(config->version(), -1);
    EXPECT_FALSE(config->remoteConfigProto());
    EXPECT_EQ(config->uploadingRetryCount(), 6);
    EXPECT_TRUE(config->dataControls().isEmpty());
    EXPECT_TRUE(config->consentDefaults().isEmpty());
    EXPECT_TRUE(config->isDMARegion());
    EXPECT_FALSE(config->eventConfigWithName(QStringLiteral("_s")));
}

// ---- Event rules ------------------------------------------------------------

TEST(RemoteConfig, EventRules)
{
    Harness h;
    ConfigBuilder builder;
    builder.setting(setting("measurement.upload.blacklist_public"), QStringLiteral("1"))
        .eventConfig(QStringLiteral("blocked"), true)
        .eventConfig(QStringLiteral("_blocked"), true)
        .eventConfig(QStringLiteral("_open"), false, true)
        .eventConfig(QStringLiteral("rate0"), std::nullopt, std::nullopt, 0)
        .eventConfig(QStringLiteral("rate1"), std::nullopt, std::nullopt, 1)
        .eventConfig(QStringLiteral("rate2"), std::nullopt, std::nullopt, 2)
        .eventConfig(QStringLiteral("rate65535"), std::nullopt, std::nullopt, 65535)
        .eventConfig(QStringLiteral("rate65536"), std::nullopt, std::nullopt, 65536)
        .eventConfig(QStringLiteral("rateNegative"), std::nullopt, std::nullopt, -5);
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);

    struct Row {
        const char* name;
        bool blocklisted;
        bool conversion;
        bool hasRate;
        qint32 rate;
    };
    // Public events are blocked by the public switch (on here); internal ones
    // only by their own configuration (the internal switch is off).
    const Row rows[] = {
        { "blocked", true, false, false, 1 },
        { "_blocked", true, false, false, 1 },
        { "_open", false, true, false, 1 },
        { "_unknown", false, false, false, 1 },
        { "unknown_public", true, false, false, 1 },
        { "rate0", true, false, true, 1 },
        { "rate1", true, false, true, 1 },
        { "rate2", true, false, true, 2 },
        { "rate65535", true, false, true, 65535 },
        { "rate65536", true, false, true, 1 },
        { "rateNegative", true, false, true, 1 },
    };
    for (const Row& row : rows) {
        const QString name = QString::fromLatin1(row.name);
        EXPECT_EQ(config->isEventBlocklisted(name), row.blocklisted) << row.name;
        EXPECT_EQ(config->isEventCustomConversion(name), row.conversion) << row.name;
        EXPECT_EQ(config->eventHasSamplingRate(name), row.hasRate) << row.name;
        EXPECT_EQ(config->samplingRateForEvent(name), row.rate) << row.name;
    }
    EXPECT_FALSE(config->eventConfigWithName(QString()));
    EXPECT_TRUE(h.logged(5, 29006));
}

// ---- Addresses --------------------------------------------------------------

TEST(RemoteConfig, FetchAddressEncodesEveryValueInAFixedOrder)
{
    Harness h;
    const auto config
        = APMRemoteConfig::initWithAppID(QStringLiteral("1:2/3?x#y"), h.database, nullptr, h.environment());
    ASSERT_TRUE(config);
    struct Row {
        QString platform;
        const char* expected;
    };
    const Row rows[] = {
        { QStringLiteral("macos"),
            "https://config.test/config/app/"
            "1%3A2%2F3%3Fx%23y?platform=macos&runtime_version=0&vmp_version=102700" },
        { QStringLiteral(""),
            "https://config.test/config/app/"
            "1%3A2%2F3%3Fx%23y?platform=&runtime_version=0&vmp_version=102700" },
        { QStringLiteral("a&b=c+d/e f"),
            "https://config.test/config/app/"
            "1%3A2%2F3%3Fx%23y?platform=a%26b%3Dc%2Bd%2Fe%20f&runtime_version=0&vmp_version=102700" },
    };
    for (const Row& row : rows) {
        const std::optional<QUrl> url = config->remoteConfigURLWithPlatform(row.platform, 102700, 0);
        ASSERT_TRUE(url) << row.expected;
        EXPECT_TRUE(url->isValid());
        EXPECT_EQ(url->toEncoded().toStdString(), row.expected);
        EXPECT_EQ(url->host(), QStringLiteral("config.test"));
    }
    EXPECT_FALSE(config->remoteConfigURLWithPlatform(QString(), 1, 0));
    EXPECT_TRUE(h.logged(2, 29010));
}

TEST(RemoteConfig, UploadAddressFollowsSubdomainAndTrackingStatus)
{
    struct Row {
        QString subdomain;
        qint64 status;
        const char* expected;
    };
    const Row rows[] = {
        { QString(), 0, "https://collect.test/a" },
        { QString(), 3, "https://collect-authorized.test/a" },
        { QStringLiteral("eu"), 2, "https://eu.collect.test/a" },
        { QStringLiteral("eu.west-1"), 3, "https://eu.west-1.collect-authorized.test/a" },
        { QStringLiteral(""), 0, "https://collect.test/a" },
        // A subdomain that is not a plain host-name prefix would move the
        // uploads to another host; it is ignored.
        { QStringLiteral("evil.example/"), 0, "https://collect.test/a" },
        { QStringLiteral("x@evil.example#"), 0, "https://collect.test/a" },
        { QStringLiteral("-bad"), 0, "https://collect.test/a" },
        { QStringLiteral("a..b"), 0, "https://collect.test/a" },
    };
    for (const Row& row : rows) {
        Harness h;
        h.consentStatus = row.status;
        ConfigBuilder builder;
        builder.setting(setting("a"), QStringLiteral("1"));
        if (!row.subdomain.isNull())
            builder.uploadSubdomain(row.subdomain);
        h.store(builder);
        const auto config = h.make();
        ASSERT_TRUE(config);
        EXPECT_EQ(config->uploadSubdomain(), row.subdomain);
        EXPECT_EQ(config->uploadURL().toString().toStdString(), row.expected) << row.subdomain.toStdString();
    }
}

// ---- Expiry -----------------------------------------------------------------

TEST(RemoteConfig, ExpiryOnVirtualTime)
{
    Harness h;
    ConfigBuilder builder;
    builder.setting(setting("measurement.config.cache_time"), QStringLiteral("600000")); // 10 minutes
    h.store(builder);
    const double stored = h.time.now();
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->lastRemoteConfigUpdateTimestamp(), stored);
    EXPECT_FALSE(config->isExpired());
    h.time.advance(599);
    EXPECT_FALSE(config->isExpired());
    h.time.advance(1);
    EXPECT_TRUE(config->isExpired());
    // Stored in the future by more than the cache time also counts as expired.
    h.database->timestamp = h.time.now() + 601;
    EXPECT_TRUE(config->isExpired());
    h.database->timestamp = h.time.now() + 599;
    EXPECT_FALSE(config->isExpired());
    // No timestamp at all: expired, without a report.
    h.database->timestamp.reset();
    h.lines.clear();
    EXPECT_TRUE(config->isExpired());
    EXPECT_TRUE(h.lines.empty());
    h.database->timestampFails = true;
    EXPECT_EQ(config->lastRemoteConfigUpdateTimestamp(), 0);
    EXPECT_TRUE(h.logged(4, 29009));
}

// ---- Modules for event-editing programs ---------------------------------------

TEST(RemoteConfig, ProgramsReadTheSettingsOfTheirOwnConfiguration)
{
    Harness h;
    h.appVersion = QStringLiteral("2.4.1");
    ConfigBuilder builder;
    builder.setting(setting("measurement.upload.interval"), QStringLiteral("20000"))
        .setting(setting("custom.flag"), QStringLiteral("on"))
        .program(goodProgram());
    h.store(builder);
    const auto config = h.make();
    ASSERT_TRUE(config);
    const auto editing = config->eventEditing();
    ASSERT_TRUE(editing);

    APMError error;
    const auto store = std::dynamic_pointer_cast<APMPKeyValueStore>(
        editing->runtime().require(QStringLiteral("internal.remoteConfig"), &error));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->functionName(), QStringLiteral("internal.remoteConfig"));
    EXPECT_EQ(store->getValue(QStringLiteral("custom.flag")), QStringLiteral("on"));
    EXPECT_EQ(store->getValue(QStringLiteral("measurement.upload.interval")), QStringLiteral("20000"));
    EXPECT_EQ(store->getValue(QStringLiteral("missing")), std::nullopt);
    // Once a getter has read a setting the program sees the number.
    EXPECT_EQ(config->uploadingInterval(), 20);
    EXPECT_EQ(store->getValue(QStringLiteral("measurement.upload.interval")), QStringLiteral("20"));
    EXPECT_EQ(config->maxEventsPerDay(), 100000);
    EXPECT_EQ(
        store->getValue(QStringLiteral("measurement.upload.max_events_per_day")), QStringLiteral("100000"));

    const auto metadata = std::dynamic_pointer_cast<APMPObjectProvider>(
        editing->runtime().require(QStringLiteral("internal.appMetadata"), &error));
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->object().toMap(),
        (QVariantMap { { QStringLiteral("platform"), QStringLiteral("macos") },
            { QStringLiteral("package_name"), QStringLiteral("org.pravik.desktop") },
            { QStringLiteral("vmp_version"), qint64(102700) },
            { QStringLiteral("app_version"), QStringLiteral("2.4.1") } }));
    h.appVersion = QString();
    EXPECT_FALSE(metadata->object().toMap().contains(QStringLiteral("app_version")));

    const auto logger = std::dynamic_pointer_cast<APMPMessageLogger>(
        editing->runtime().require(QStringLiteral("internal.logger"), &error));
    ASSERT_TRUE(logger);
    EXPECT_TRUE(std::dynamic_pointer_cast<APMPixieLogger>(logger->logger()));
    EXPECT_EQ(error.code(), 0);
}

// ---- An independently encoded configuration -----------------------------------

// protoc writes the configuration from the hand-written schema of the wire
// tests, so the bytes do not come from our encoder.
TEST(RemoteConfig, ReadsAConfigurationEncodedByProtoc)
{
    const QString root = qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR");
    const QString protoc = QStandardPaths::findExecutable(QStringLiteral("protoc"));
    ASSERT_FALSE(root.isEmpty() || protoc.isEmpty()) << "protoc and PRAVIK_TEST_SOURCE_DIR are needed";
    const QByteArray text = QByteArrayLiteral(R"(
        version: 77
        vmp_app_id: "1:1234567890:linux:0a1b2c3d"
        settings { name: "measurement.upload.interval" value: "15000" }
        settings { name: "measurement.upload.max_bundles" value: "250" }
        settings { name: "measurement.tcf_enabled" value: "0" }
        event_config { name: "first_open" blocklisted: true sampling_rate: 40 }
        dynamic_event_editing {
          instructions {
            type: NUMBER_4 statement: "50"
            value { type: NUMBER_1 string_value: "onEvent" }
            value { type: NUMBER_4 statement: "46" value { type: NUMBER_1 string_value: "rule" } }
          }
          activities { activities { name: "onEvent" data { type: NUMBER_4 statement: "8" } } }
        }
        data_controls { name: "ads" opt_out_regions { tag_1: "EU" } }
        upload_subdomain: "eu"
        consent_config {
          defaults { consent_type: NUMBER_4 default_value: NUMBER_2 }
          is_dma_region: true
          enforced_defaults { consent_type: NUMBER_1 default_value: NUMBER_1 }
        }
        psm_setting { psm_signin_delay: 8 }
    )");
    QProcess process;
    process.start(protoc,
        { QStringLiteral("--encode=wire.MeasurementConfig"), QStringLiteral("-I"),
            QDir(root).filePath(QStringLiteral("analytics/data")), QStringLiteral("wire_messages.proto") });
    ASSERT_TRUE(process.waitForStarted(10000));
    process.write(text);
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    Harness h;
    h.database->bytes = process.readAllStandardOutput();
    h.database->timestamp = h.time.now();
    const auto config = h.make();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->version(), 77);
    EXPECT_EQ(config->uploadingInterval(), 15);
    EXPECT_EQ(config->uploadMaxBundlesLimit(), 250);
    EXPECT_FALSE(config->tcfFeatureEnabled());
    EXPECT_TRUE(config->isEventBlocklisted(QStringLiteral("_f")));
    EXPECT_EQ(config->samplingRateForEvent(QStringLiteral("_f")), 40);
    EXPECT_TRUE(config->eventEditing());
    EXPECT_EQ(config->dataControls(), QStringList { QStringLiteral("ads") });
    EXPECT_EQ(config->uploadURL().toString(), QStringLiteral("https://eu.collect.test/a"));
    EXPECT_EQ(config->consentDefaults(),
        (QVariantMap { { QStringLiteral("ad_personalization"), QStringLiteral("denied") } }));
    EXPECT_TRUE(config->isDMARegion());
    EXPECT_EQ(config->regionalDefaults(),
        (QVariantMap { { QStringLiteral("ad_storage"), QStringLiteral("granted") } }));
    EXPECT_EQ(config->maxSignInDelayInDays(), 8);
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 14);
}

// ---- The engine's configuration ------------------------------------------------

TEST(RemoteConfig, EngineConfigurationFallsBackToTheDefaultInstance)
{
    EXPECT_EQ(APMMeasurementRemoteConfig::remoteConfig(), APMRemoteConfig::defaultInstance());
    Harness h;
    const auto config = h.make();
    ASSERT_TRUE(config);
    APMMeasurementRemoteConfig::setRemoteConfig(config);
    EXPECT_EQ(APMMeasurementRemoteConfig::remoteConfig(), config);
    APMMeasurementRemoteConfig::setRemoteConfig(nullptr);
    EXPECT_EQ(APMMeasurementRemoteConfig::remoteConfig(), APMRemoteConfig::defaultInstance());
}

} // namespace
