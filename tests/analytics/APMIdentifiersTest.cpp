#include "analytics/base/APMPlatformIdentitySupport.h"
#include "analytics/identity/APMIdentifiers.h"

#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/base/APMError.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/config/APMInfoPlistFileUtil.h"
#include "analytics/identity/APMKeychainWrapper.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeTrackingAuthorization.h"
#include "fakes/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using Operation = fakes::FakeSecretStore::Operation;

// ---- Identifiers facade -------------------------------------------------------

class IdentifiersTest : public ::testing::Test {
protected:
    IdentifiersTest()
    {
        APMConsentSettingsUtil::clearAllSettings();
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::inMemory();
        e.sharedUserDefaults = sharedDefaults_.get();
        // The delayed flush of an in-memory store has nothing to do; it is
        // left on a virtual queue that never runs (and that the config only
        // touches under its own lock).
        e.queue = &flushQueue_;
        config_ = APMPersistedConfig::initWithSuiteName(QStringLiteral("identifiers-test"), std::move(e));
    }
    ~IdentifiersTest() override { APMConsentSettingsUtil::clearAllSettings(); }

    std::unique_ptr<APMIdentity> makeIdentity(const QString& vmp, const QString& adNest)
    {
        APMIdentity::Environment e;
        e.log = [](qint64, qint64, const QString&, const QVariantList&) {};
        e.clock = &time_;
        e.identitySupport = &platformSupport_;
        e.adIDCacheTime = [] { return 60.0; };
        e.gateIDFAOnATTMASEnabled = [] { return false; };
        e.serviceInfoDictionary = [vmp, adNest]() -> std::optional<QVariantMap> {
            return QVariantMap { { APMInfoPlistFileUtil::kVireoAppIDKey, vmp },
                { APMInfoPlistFileUtil::kAdNestAppIDKey, adNest } };
        };
        e.classExists = [](const QString&) { return false; };
        return APMIdentity::initWithPersistedConfig(config_.get(), std::move(e));
    }

    APMIdentifiers makeIdentifiers(APMIdentity* engine, APMIdentity* shared)
    {
        APMIdentifiers::Environment e;
        e.engineIdentity = [engine] { return engine; };
        e.sharedIdentity = [shared] { return shared; };
        e.log = [this](qint64 level, qint64 code, const QString&, const QVariantList&) {
            QMutexLocker lock(&mutex_);
            logged_.push_back({ level, code });
        };
        e.randomInt64 = [] { return qint64(-2); };
        return APMIdentifiers(std::move(e));
    }

    std::vector<std::pair<qint64, qint64>> takeLogs()
    {
        QMutexLocker lock(&mutex_);
        return std::exchange(logged_, {});
    }

    std::unique_ptr<APMConfigStore> sharedDefaults_ = APMPersistentDictionary::inMemory();
    fakes::VirtualTime flushQueue_;
    std::unique_ptr<APMPersistedConfig> config_;
    fakes::VirtualTime time_;
    fakes::FakeTrackingAuthorization support_;
    APMPlatformIdentitySupport platformSupport_ { support_ };
    QMutex mutex_;
    std::vector<std::pair<qint64, qint64>> logged_;
};

TEST_F(IdentifiersTest, AppIDsFromTheEngineOrTheSharedIdentity)
{
    struct Case {
        const char* name;
        QString vmp;
        QString adNest;
        QString analyticsAppID;
        std::vector<std::pair<qint64, qint64>> logsOfAppIDs; // after vireoAppID() and analyticsAppID()
    };
    const std::vector<Case> cases {
        { "both", QStringLiteral("vmp-1"), QStringLiteral("adnest-1"), QStringLiteral("vmp-1"), {} },
        { "AdNest only", QString(), QStringLiteral("adnest-1"), QStringLiteral("adnest-1"),
            { { 2, 37001 } } },
        { "none", QString(), QString(), QString(), { { 2, 37001 }, { 2, 37005 } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto shared = makeIdentity(c.vmp, c.adNest);
        APMIdentifiers identifiers = makeIdentifiers(nullptr, shared.get());
        EXPECT_EQ(identifiers.vireoAppID(), c.vmp);
        EXPECT_EQ(identifiers.analyticsAppID(), c.analyticsAppID);
        EXPECT_EQ(takeLogs(), c.logsOfAppIDs);
    }

    // The engine's identity comes first, and its failures have codes of their own.
    auto engine = makeIdentity(QString(), QString());
    auto shared = makeIdentity(QStringLiteral("shared-vmp"), QString());
    APMIdentifiers identifiers = makeIdentifiers(engine.get(), shared.get());
    EXPECT_EQ(identifiers.vireoAppID(), QString());
    EXPECT_EQ(takeLogs(), (std::vector<std::pair<qint64, qint64>> { { 2, 37000 } }));
}

TEST_F(IdentifiersTest, AppInstanceIDHonoursConsent)
{
    auto identity = makeIdentity(QStringLiteral("vmp"), QString());
    APMIdentifiers fromShared = makeIdentifiers(nullptr, identity.get());
    APMIdentifiers fromEngine = makeIdentifiers(identity.get(), nullptr);
    EXPECT_EQ(fromShared.appInstanceID(), config_->appInstanceID());
    EXPECT_FALSE(fromShared.appInstanceID().isEmpty());
    EXPECT_TRUE(takeLogs().empty());

    APMConsentSettingsUtil::setConsentSettings(
        QVariantMap { { APMConsentSettingsUtil::kAnalyticsStorage, APMConsentSettingsUtil::kDenied } });
    EXPECT_EQ(fromShared.appInstanceID(), QString());
    EXPECT_EQ(fromEngine.appInstanceID(), QString());
    EXPECT_EQ(takeLogs(), (std::vector<std::pair<qint64, qint64>> { { 2, 37003 }, { 2, 37002 } }));
}

TEST_F(IdentifiersTest, AdEventIDsCountUpWithoutRepeats)
{
    APMIdentifiers identifiers = makeIdentifiers(nullptr, nullptr);
    bool ok = false;
    const qint64 first = identifiers.adEventID().toLongLong(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(identifiers.adEventID(), QString::number(first + 1));
    // Another instance shares the counter.
    EXPECT_EQ(makeIdentifiers(nullptr, nullptr).adEventID(), QString::number(first + 2));

    constexpr int kThreads = 4;
    constexpr int kCalls = 500;
    std::vector<std::vector<QString>> answers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&identifiers, &answers, t] {
            for (int i = 0; i < kCalls; ++i)
                answers[t].push_back(identifiers.adEventID());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QSet<QString> distinct;
    for (const auto& list : answers)
        distinct.unite(QSet<QString>(list.begin(), list.end()));
    EXPECT_EQ(distinct.size(), kThreads * kCalls);
    EXPECT_EQ(identifiers.libraryVersion(), QStringLiteral("102700"));
}

TEST_F(IdentifiersTest, AnEmptyOriginIsRefused)
{
    APMIdentifiers identifiers = makeIdentifiers(nullptr, nullptr);
    identifiers.setOrigin(QStringLiteral("fa"));
    identifiers.setOrigin(QString());
    EXPECT_EQ(identifiers.origin(), QStringLiteral("fa"));
    EXPECT_EQ(takeLogs(), (std::vector<std::pair<qint64, qint64>> { { 2, 37004 } }));
}

// ---- Service configuration file ------------------------------------------------

const QByteArray kServicePlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
    <key>VIREO_APP_ID</key>
    <string>1:1234567890:desktop:00ff</string>
    <key>ADNEST_APP_ID</key>
    <string>adnest-42</string>
</dict>
</plist>
)";

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(InfoPlistFileUtilTest, FoundInTheApplicationFirstThenBesideTheLibrary)
{
    QTemporaryDir application;
    QTemporaryDir library;
    const QStringList folders { application.path(), library.path() };
    EXPECT_EQ(APMInfoPlistFileUtil::vireoServiceInfoPlistPathInFolders(folders), QString());

    writeFile(library.filePath(QStringLiteral("VireoService-Info.plist")), kServicePlist);
    EXPECT_EQ(APMInfoPlistFileUtil::vireoServiceInfoPlistPathInFolders(folders),
        library.filePath(QStringLiteral("VireoService-Info.plist")));
    writeFile(application.filePath(QStringLiteral("VireoService-Info.plist")), kServicePlist);
    EXPECT_EQ(APMInfoPlistFileUtil::vireoServiceInfoPlistPathInFolders(folders),
        application.filePath(QStringLiteral("VireoService-Info.plist")));

    // The application's resources are the first folder searched.
    const QByteArray previous = qgetenv("PRAVIK_RESOURCES");
    qputenv("PRAVIK_RESOURCES", application.path().toLocal8Bit());
    EXPECT_EQ(APMInfoPlistFileUtil::searchFolders().value(0), QDir(application.path()).absolutePath());
    APMError error;
    const auto dictionary = APMInfoPlistFileUtil::dictionaryFromVireoServiceInfoPlist(&error);
    qputenv("PRAVIK_RESOURCES", previous);
    ASSERT_TRUE(dictionary.has_value());
    EXPECT_EQ(dictionary->value(QStringLiteral("VIREO_APP_ID")), QStringLiteral("1:1234567890:desktop:00ff"));
    EXPECT_EQ(dictionary->value(QStringLiteral("ADNEST_APP_ID")), QStringLiteral("adnest-42"));
}

TEST(InfoPlistFileUtilTest, WhatIsNotADictionaryFileIsReported)
{
    QTemporaryDir dir;
    const std::vector<std::pair<const char*, QByteArray>> cases {
        { "not a property list", "VIREO_APP_ID = 1" },
        { "an array", R"(<plist version="1.0"><array><string>x</string></array></plist>)" },
        { "truncated", kServicePlist.left(kServicePlist.size() / 2) },
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QStringLiteral("VireoService-Info.plist"));
        writeFile(path, bytes);
        APMError error;
        EXPECT_EQ(APMInfoPlistFileUtil::dictionaryFromPlistAtPath(path, &error), std::nullopt);
        EXPECT_EQ(error.code(), APMError::InvalidState);
        EXPECT_FALSE(error.localizedDescription().isEmpty());
    }
    APMError error;
    EXPECT_EQ(APMInfoPlistFileUtil::dictionaryFromPlistAtPath(
                  dir.filePath(QStringLiteral("missing.plist")), &error),
        std::nullopt);
    EXPECT_EQ(error.code(), APMError::InvalidState);
}

// ---- Keychain wrapper -------------------------------------------------------------

class KeychainWrapperTest : public ::testing::Test {
protected:
    KeychainWrapperTest() { APMKeychainWrapper::setSecretStore(&store_); }
    ~KeychainWrapperTest() override { APMKeychainWrapper::setSecretStore(nullptr); }

    const QString identifier_ = QStringLiteral("app_instance_id");
    const QString appID_ = QStringLiteral("1:1234567890:desktop:00ff");
    fakes::FakeSecretStore store_;
};

TEST_F(KeychainWrapperTest, StoresReadsReplacesAndDeletes)
{
    APMError error;
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_, &error), std::nullopt);
    EXPECT_EQ(error.code(), 0); // nothing stored is no failure

    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(QStringLiteral("première"), identifier_, appID_));
    ASSERT_EQ(store_.items().size(), 1);
    EXPECT_EQ(
        store_.items()[0], (platform::SecretItem { appID_, identifier_, identifier_, "premi\xc3\xa8re" }));
    EXPECT_EQ(
        APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_), QStringLiteral("première"));

    store_.clearCalls();
    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(QStringLiteral("second"), identifier_, appID_));
    EXPECT_EQ(store_.calls(),
        (QList<fakes::FakeSecretStore::Call> {
            { Operation::Find, appID_, identifier_ }, { Operation::Update, appID_, identifier_ } }));
    EXPECT_EQ(APMKeychainWrapper::keychainDataWithIdentifier(identifier_, appID_), QByteArray("second"));

    EXPECT_TRUE(APMKeychainWrapper::deleteKeychainValueWithIdentifier(identifier_, appID_));
    EXPECT_TRUE(store_.items().isEmpty());
    EXPECT_TRUE(APMKeychainWrapper::deleteKeychainValueWithIdentifier(identifier_, appID_));
}

TEST_F(KeychainWrapperTest, AnItemHoldingNothingIsReplacedNotAddedTwice)
{
    store_.putItem({ appID_, identifier_, identifier_, QByteArray() });
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_), std::nullopt);
    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(QStringLiteral("value"), identifier_, appID_));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_), QStringLiteral("value"));
    EXPECT_EQ(store_.items().size(), 1);
}

TEST_F(KeychainWrapperTest, AValueStartingWithFeffReadsBackWhole)
{
    const QString value = QChar(0xFEFF) + QStringLiteral("id");
    ASSERT_TRUE(APMKeychainWrapper::upsertKeychainValue(value, identifier_, appID_));
    EXPECT_EQ(store_.items()[0].secret, QByteArray("\xef\xbb\xbfid"));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_), value);
}

TEST_F(KeychainWrapperTest, BadArgumentsTouchNothing)
{
    struct Case {
        const char* name;
        QVariant value;
        QString identifier;
        QString appID;
    };
    const std::vector<Case> cases {
        { "a number", QVariant(42), identifier_, appID_ },
        { "an empty value", QVariant(QString()), identifier_, appID_ },
        { "no value", QVariant(), identifier_, appID_ },
        { "data, not text", QVariant(QByteArray("x")), identifier_, appID_ },
        { "no identifier", QVariant(QStringLiteral("v")), QString(), appID_ },
        { "no app ID", QVariant(QStringLiteral("v")), identifier_, QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        APMError error;
        EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(c.value, c.identifier, c.appID, &error));
        EXPECT_EQ(error.code(), APMError::InvalidArgument);
    }
    APMError error;
    EXPECT_EQ(APMKeychainWrapper::keychainDataWithIdentifier(QString(), appID_, &error), std::nullopt);
    EXPECT_EQ(error.code(), APMError::InvalidArgument);
    EXPECT_FALSE(APMKeychainWrapper::deleteKeychainValueWithIdentifier(identifier_, QString()));
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier(QString(), appID_));
    EXPECT_EQ(APMKeychainWrapper::searchDirectoryForIdentifier(identifier_, QString()), std::nullopt);
    EXPECT_TRUE(store_.calls().isEmpty());
}

TEST_F(KeychainWrapperTest, StoreFailuresAreReported)
{
    store_.putItem({ appID_, identifier_, identifier_, "kept" });
    struct Case {
        Operation failing;
        std::function<bool(APMError*)> call; // true when the call answered success
    };
    const std::vector<Case> cases {
        { Operation::Find,
            [&](APMError* e) {
                return APMKeychainWrapper::keychainValueWithIdentifier(identifier_, appID_, e).has_value();
            } },
        { Operation::Find,
            [&](APMError* e) {
                return APMKeychainWrapper::upsertKeychainValue(QStringLiteral("v"), identifier_, appID_, e);
            } },
        { Operation::Update,
            [&](APMError* e) {
                return APMKeychainWrapper::upsertKeychainValue(QStringLiteral("v"), identifier_, appID_, e);
            } },
        { Operation::Remove,
            [&](APMError* e) {
                return APMKeychainWrapper::deleteKeychainValueWithIdentifier(identifier_, appID_, e);
            } },
    };
    for (const Case& c : cases) {
        store_.setFailure(c.failing, QStringLiteral("store locked"));
        APMError error;
        EXPECT_FALSE(c.call(&error));
        EXPECT_EQ(error.code(), APMError::InvalidState);
        EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("store locked")));
        store_.setFailure(c.failing, std::nullopt);
    }
    EXPECT_EQ(store_.items()[0].secret, QByteArray("kept"));

    store_.setFailure(Operation::Add, QStringLiteral("disk full"));
    APMError error;
    EXPECT_FALSE(APMKeychainWrapper::upsertKeychainValue(
        QStringLiteral("v"), QStringLiteral("other"), appID_, &error));
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("disk full")));
}

TEST_F(KeychainWrapperTest, AnOlderItemGetsItsGenericAttribute)
{
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier(identifier_, appID_));
    EXPECT_TRUE(APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(identifier_, appID_));
    EXPECT_TRUE(store_.items().isEmpty());

    store_.putItem({ appID_, identifier_, std::nullopt, "old" });
    EXPECT_TRUE(APMKeychainWrapper::isMigrationNeededForIdentifier(identifier_, appID_));
    store_.setFailure(Operation::Update, QStringLiteral("read-only"));
    APMError error;
    EXPECT_FALSE(APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(identifier_, appID_, &error));
    EXPECT_EQ(error.code(), APMError::InvalidState);
    store_.setFailure(Operation::Update, std::nullopt);

    EXPECT_TRUE(APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(identifier_, appID_));
    EXPECT_FALSE(APMKeychainWrapper::isMigrationNeededForIdentifier(identifier_, appID_));
    EXPECT_EQ(store_.items()[0], (platform::SecretItem { appID_, identifier_, identifier_, "old" }));
}

} // namespace
