#include "analytics/base/APMBackupExclusion.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/AppPaths.h"
#include "platform/Preferences.h"
#include "platform/PropertyListCodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>

#include <gtest/gtest.h>
#include <vector>

namespace {

struct StoreLine {
    int level;
    QString code;
    QString message;
};

// Records what the stores write to the shared utilities logger.
class LoggerCapture {
public:
    LoggerCapture()
    {
        VULLogger::shared().setSink(
            [this](int level, const QString&, const QString& code, const QString& message) {
                lines.push_back({ level, code, message });
            });
    }
    ~LoggerCapture() { VULLogger::shared().setSink({}); }
    bool has(const char* code, int level) const
    {
        for (const StoreLine& l : lines) {
            if (l.code == QLatin1String(code) && l.level == level)
                return true;
        }
        return false;
    }
    std::vector<StoreLine> lines;
};

QVariantMap storeFileContents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto value = platform::PropertyListCodec::fromXml(file.readAll());
    return value ? value->toMap() : QVariantMap();
}

// python3's plistlib reads the file on its own and describes each value's
// kind and value as JSON.
QJsonObject readWithPlistlib(const QString& path)
{
    static const char* script = R"(
import datetime, json, plistlib, sys
with open(sys.argv[1], "rb") as f:
    d = plistlib.load(f)
def describe(v):
    if isinstance(v, bool): return ["bool", v]
    if isinstance(v, int): return ["int", v]
    if isinstance(v, float): return ["real", v]
    if isinstance(v, str): return ["string", v]
    if isinstance(v, bytes): return ["data", v.hex()]
    if isinstance(v, datetime.datetime): return ["date", v.strftime("%Y-%m-%dT%H:%M:%S")]
    if isinstance(v, list): return ["array", [describe(x) for x in v]]
    if isinstance(v, dict): return ["dict", {k: describe(x) for k, x in v.items()}]
    return ["unknown", repr(v)]
print(json.dumps({k: describe(v) for k, v in d.items()}))
)";
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromUtf8(script), path });
    EXPECT_TRUE(python.waitForStarted(10000)) << "python3 is needed as the property-list oracle";
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QString kindOf(const QJsonObject& described, const char* key)
{
    return described.value(QLatin1String(key)).toArray().at(0).toString();
}

class PersistentDictionaryTest : public ::testing::Test {
protected:
    std::unique_ptr<APMPersistentDictionary> open(const QString& name = QStringLiteral("store"))
    {
        return APMPersistentDictionary::initWithFileName(name, time_);
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
};

TEST_F(PersistentDictionaryTest, FileLiesInTheLibraryFolder)
{
    auto store = open(QStringLiteral("com.vireo.vmp.measurement"));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->filePath(),
        platform::AppPaths::applicationSupport()
            + QStringLiteral("/Vireo/Measurement/com.vireo.vmp.measurement.plist"));
    EXPECT_EQ(APMApplicationSupportPlistPath(QStringLiteral("a.plist")),
        APMApplicationSupportPlistPath(QStringLiteral("a")));
    EXPECT_EQ(APMApplicationSupportPath(QStringLiteral("vireo-app-metrics.sql")),
        platform::AppPaths::applicationSupport()
            + QStringLiteral("/Vireo/Measurement/vireo-app-metrics.sql"));
    EXPECT_EQ(APMPreferencesPlistPath(QStringLiteral("suite")),
        platform::AppPaths::preferences() + QStringLiteral("/suite.plist"));
    EXPECT_TRUE(APMApplicationSupportPath(QString()).isEmpty());
    EXPECT_TRUE(APMPreferencesPlistPath(QString()).isEmpty());
    EXPECT_FALSE(open(QString()));
}

TEST_F(PersistentDictionaryTest, ChangesAreCoalescedIntoOneWriteASecondAfterTheFirst)
{
    auto store = open();
    const QString path = store->filePath();
    store->setObject(QStringLiteral("a"), QStringLiteral("k1"));
    EXPECT_TRUE(store->hasPendingPersistence());
    time_.advance(0.5);
    store->setInteger(2, QStringLiteral("k2"));
    EXPECT_FALSE(QFileInfo::exists(path));
    time_.advance(0.49);
    EXPECT_FALSE(QFileInfo::exists(path));
    time_.advance(0.01); // one second after the first change
    EXPECT_EQ(storeFileContents(path),
        (QVariantMap { { QStringLiteral("k1"), QStringLiteral("a") }, { QStringLiteral("k2"), 2LL } }));
    EXPECT_FALSE(store->hasPendingPersistence());
    EXPECT_EQ(time_.pendingCount(), 0u);
}

TEST_F(PersistentDictionaryTest, NoChangeNoWrite)
{
    auto store = open();
    store->setObject(7, QStringLiteral("n"));
    time_.advance(1);
    ASSERT_FALSE(store->hasPendingPersistence());

    store->setInteger(7, QStringLiteral("n")); // the same value
    EXPECT_FALSE(store->hasPendingPersistence());
    store->removeObjectForKey(QStringLiteral("missing"));
    EXPECT_FALSE(store->hasPendingPersistence());
    store->clearAllData();
    EXPECT_TRUE(store->hasPendingPersistence());
    time_.advance(1);
    store->clearAllData(); // already empty
    EXPECT_FALSE(store->hasPendingPersistence());

    // A boolean is not the integer 1: the kind changes, so it is written.
    store->setInteger(1, QStringLiteral("b"));
    time_.advance(1);
    store->setBool(true, QStringLiteral("b"));
    EXPECT_TRUE(store->hasPendingPersistence());
    time_.advance(1);
    EXPECT_EQ(storeFileContents(store->filePath()).value(QStringLiteral("b")).metaType().id(), QMetaType::Bool);
}

TEST_F(PersistentDictionaryTest, ReopenedStoreAnswersBeforeAnyWrite)
{
    {
        auto store = open();
        store->setDouble(2.5, QStringLiteral("d"));
        store->setObject(QVariantList { 1, QStringLiteral("x") }, QStringLiteral("a"));
        // Destroyed with a write pending: it is written now.
    }
    auto store = open();
    EXPECT_EQ(store->doubleForKey(QStringLiteral("d")), 2.5);
    EXPECT_EQ(store->arrayForKey(QStringLiteral("a")), (QVariantList { 1LL, QStringLiteral("x") }));
    EXPECT_FALSE(store->hasPendingPersistence());
}

TEST_F(PersistentDictionaryTest, TypedReadsKeepKindsApart)
{
    auto store = open();
    store->setObject(QStringLiteral("12"), QStringLiteral("s"));
    store->setObject(12, QStringLiteral("i"));
    store->setObject(QVariantMap { { QStringLiteral("x"), 1 } }, QStringLiteral("m"));
    EXPECT_EQ(store->integerForKey(QStringLiteral("s")), 0);
    EXPECT_TRUE(store->stringForKey(QStringLiteral("i")).isNull());
    EXPECT_FALSE(store->numberForKey(QStringLiteral("s")).isValid());
    EXPECT_EQ(store->integerForKey(QStringLiteral("i")), 12);
    EXPECT_EQ(store->doubleForKey(QStringLiteral("i")), 12.0);
    EXPECT_TRUE(store->boolForKey(QStringLiteral("i")));
    EXPECT_FALSE(store->arrayForKey(QStringLiteral("m")));
    EXPECT_TRUE(store->dictionaryForKey(QStringLiteral("m")));
    EXPECT_FALSE(store->dictionaryForKey(QStringLiteral("missing")));
    // Reals are truncated into range, never converted out of range.
    store->setDouble(1e300, QStringLiteral("big"));
    EXPECT_EQ(store->integerForKey(QStringLiteral("big")), std::numeric_limits<qint64>::max());
}

TEST_F(PersistentDictionaryTest, InvalidKeysAndValuesAreRefused)
{
    LoggerCapture log;
    auto store = open();
    EXPECT_FALSE(store->objectForKey(QString()).isValid());
    EXPECT_FALSE(store->setObject(1, QString()));
    EXPECT_FALSE(store->setObject(QVariant::fromValue(QPoint(1, 2)), QStringLiteral("p")));
    // Nested values are checked when set, not when the file is written.
    EXPECT_FALSE(
        store->setObject(QVariantMap { { QStringLiteral("p"), QPoint(1, 2) } }, QStringLiteral("nested")));
    EXPECT_FALSE(store->objectForKey(QStringLiteral("nested")).isValid());
    EXPECT_FALSE(store->hasPendingPersistence());
    EXPECT_TRUE(log.has("I-ACS043001", VULLogger::Warning));
    EXPECT_TRUE(log.has("I-ACS043002", VULLogger::Warning));
    EXPECT_TRUE(log.has("I-ACS043003", VULLogger::Warning));
}

TEST_F(PersistentDictionaryTest, FailedWriteIsLoggedAndRetriedOnTheNextChange)
{
    LoggerCapture log;
    auto store = open();
    const QString path = store->filePath();
    ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file should go
    store->setObject(1, QStringLiteral("a"));
    time_.advance(1);
    EXPECT_TRUE(log.has("I-ACS043000", VULLogger::Error));
    EXPECT_FALSE(store->synchronize());
    EXPECT_EQ(store->integerForKey(QStringLiteral("a")), 1); // kept in memory

    ASSERT_TRUE(QDir(path).removeRecursively());
    store->setObject(2, QStringLiteral("b"));
    time_.advance(1);
    EXPECT_TRUE(store->synchronize());
    EXPECT_EQ(storeFileContents(path).size(), 2);
}

TEST_F(PersistentDictionaryTest, FolderThatCannotBeMadeGivesNoStore)
{
    LoggerCapture log;
    QFile blocker(platform::AppPaths::applicationSupport() + QStringLiteral("/Vireo"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(open());
    EXPECT_TRUE(log.has("I-ACS043004", VULLogger::Error));
}

TEST_F(PersistentDictionaryTest, FileIsAPropertyListThatPlistlibReads)
{
    auto store = open();
    const QDateTime date = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    store->setBool(true, QStringLiteral("bool"));
    store->setInteger(7, QStringLiteral("int"));
    store->setDouble(7.0, QStringLiteral("real"));
    store->setObject(QStringLiteral("Grüße <&>"), QStringLiteral("string"));
    store->setObject(date, QStringLiteral("date"));
    store->setObject(QByteArray("\x00\xff", 2), QStringLiteral("data"));
    store->setObject(QVariantList { 1, 1.5, false }, QStringLiteral("array"));
    store->setObject(
        QVariantMap { { QStringLiteral("inner"), QStringLiteral("v") } }, QStringLiteral("dict"));
    time_.advance(1);

    const QJsonObject d = readWithPlistlib(store->filePath());
    EXPECT_EQ(kindOf(d, "bool"), QStringLiteral("bool"));
    EXPECT_EQ(kindOf(d, "int"), QStringLiteral("int"));
    EXPECT_EQ(kindOf(d, "real"), QStringLiteral("real"));
    EXPECT_EQ(d.value(QStringLiteral("string")).toArray().at(1).toString(), QStringLiteral("Grüße <&>"));
    EXPECT_EQ(
        d.value(QStringLiteral("date")).toArray().at(1).toString(), QStringLiteral("2023-11-14T22:13:20"));
    EXPECT_EQ(d.value(QStringLiteral("data")).toArray().at(1).toString(), QStringLiteral("00ff"));
    const QJsonArray array = d.value(QStringLiteral("array")).toArray().at(1).toArray();
    ASSERT_EQ(array.size(), 3);
    EXPECT_EQ(array.at(0).toArray().at(0).toString(), QStringLiteral("int"));
    EXPECT_EQ(array.at(1).toArray().at(0).toString(), QStringLiteral("real"));
    EXPECT_EQ(array.at(2).toArray().at(0).toString(), QStringLiteral("bool"));
    EXPECT_EQ(kindOf(d, "dict"), QStringLiteral("dict"));
}

TEST_F(PersistentDictionaryTest, InMemoryStoreNeverTouchesTheDisk)
{
    auto store = APMPersistentDictionary::inMemory();
    store->setObject(QStringLiteral("v"), QStringLiteral("k"));
    EXPECT_EQ(store->stringForKey(QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_FALSE(store->hasPendingPersistence());
    EXPECT_TRUE(store->filePath().isEmpty());
}

TEST(FileLocations, DeleteAnswersFailureWithOrWithoutAnErrorObject)
{
    fakes::TempHome home;
    APMError error;
    EXPECT_FALSE(APMDeleteFileAtPath(QString(), &error));
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Received empty path for deleting file"));
    EXPECT_FALSE(APMDeleteFileAtPath(QString(), nullptr));
    EXPECT_FALSE(APMDeleteFileAtPath(home.path() + QStringLiteral("/missing"), nullptr));

    const QString folder = home.path() + QStringLiteral("/folder/inner");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(APMDeleteFileAtPath(home.path() + QStringLiteral("/folder"), &error));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void TearDown() override { APMBackupExclusion::setExcluder({}); }

    fakes::TempHome home_;
};

TEST_F(UserDefaultsTest, KindsAreKeptAndSuitesShared)
{
    APMUserDefaults a(QStringLiteral("APMAnalyticsSuiteName"));
    APMUserDefaults b(QStringLiteral("APMAnalyticsSuiteName"));
    const QDateTime date = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    EXPECT_TRUE(a.setObject(date, QStringLiteral("date")));
    EXPECT_TRUE(a.setObject(QByteArray("xyz"), QStringLiteral("data")));
    EXPECT_TRUE(a.setBool(true, QStringLiteral("bool")));
    EXPECT_TRUE(a.setInteger(7, QStringLiteral("int")));
    EXPECT_EQ(b.objectForKey(QStringLiteral("date")).toDateTime(), date);
    EXPECT_EQ(b.objectForKey(QStringLiteral("data")).toByteArray(), QByteArray("xyz"));
    EXPECT_EQ(b.objectForKey(QStringLiteral("bool")).metaType().id(), QMetaType::Bool);
    EXPECT_EQ(b.objectForKey(QStringLiteral("int")).metaType().id(), QMetaType::LongLong);
    EXPECT_TRUE(a.removeObjectForKey(QStringLiteral("never there")));

    // The suite is the shared preferences service's own file.
    const QVariantMap file = storeFileContents(APMPreferencesPlistPath(QStringLiteral("APMAnalyticsSuiteName")));
    EXPECT_EQ(file.value(QStringLiteral("int")), QVariant(7LL));

    a.clearAllData();
    EXPECT_FALSE(b.objectForKey(QStringLiteral("int")).isValid());
    a.clearAllData(); // nothing left: nothing happens
}

TEST_F(UserDefaultsTest, InvalidKeysAndValuesAreRefused)
{
    LoggerCapture log;
    APMUserDefaults defaults(QStringLiteral("suite.invalid"));
    EXPECT_FALSE(defaults.objectForKey(QString()).isValid());
    EXPECT_FALSE(defaults.setObject(1, QString()));
    EXPECT_FALSE(defaults.setObject(QVariantList { QPoint(1, 1) }, QStringLiteral("k")));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("k")).isValid());
    EXPECT_TRUE(log.has("I-ACS041001", VULLogger::Warning));
    EXPECT_TRUE(log.has("I-ACS041002", VULLogger::Warning));
    EXPECT_TRUE(log.has("I-ACS041003", VULLogger::Warning));
}

TEST_F(UserDefaultsTest, SuiteFileIsExcludedFromBackupOnceItExists)
{
    LoggerCapture log;
    std::vector<QString> asked;
    bool succeed = false;
    APMBackupExclusion::setExcluder([&](const QString& path, APMError* error) {
        asked.push_back(path);
        if (!succeed)
            APMSetErrorWithCode(error, 5, QStringLiteral("refused"));
        return succeed;
    });
    platform::Preferences prefs(home_.path() + QStringLiteral("/suite.plist"));
    APMUserDefaults defaults(QStringLiteral("suite"), prefs);

    EXPECT_FALSE(defaults.isPreferenceFileExcluded());
    defaults.setInteger(1, QStringLiteral("k"));
    EXPECT_TRUE(defaults.synchronize()); // a failed exclusion is not a failed flush
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_FALSE(defaults.isPreferenceFileExcluded());
    EXPECT_TRUE(log.has("I-ACS041000", VULLogger::Warning));

    succeed = true; // tried again on the next flush, and then no more
    defaults.synchronize();
    EXPECT_TRUE(defaults.isPreferenceFileExcluded());
    defaults.synchronize();
    EXPECT_EQ(asked, (std::vector<QString> { prefs.filePath(), prefs.filePath() }));

    // The application's own defaults are not a suite file and need none.
    EXPECT_TRUE(APMUserDefaults::sharedUserDefaults().isPreferenceFileExcluded());
}

TEST_F(UserDefaultsTest, DefaultExclusionNeedsTheFile)
{
    APMError error;
    EXPECT_FALSE(APMExcludePathFromBackup(home_.path() + QStringLiteral("/none"), &error));
    EXPECT_EQ(error.domain(), APMError::kMeasurementErrorDomain);
    EXPECT_FALSE(APMExcludePathFromBackup(home_.path() + QStringLiteral("/none"), nullptr));
    EXPECT_TRUE(APMExcludePathFromBackup(home_.path(), nullptr));
}

TEST_F(UserDefaultsTest, FailedFlushIsAFailure)
{
    LoggerCapture log;
    const QString blocked = home_.path() + QStringLiteral("/blocked");
    ASSERT_TRUE(QDir().mkpath(blocked + QStringLiteral("/s.plist"))); // a folder in the file's place
    platform::Preferences prefs(blocked + QStringLiteral("/s.plist"));
    APMUserDefaults defaults(QStringLiteral("s"), prefs);
    EXPECT_FALSE(defaults.setInteger(1, QStringLiteral("k")));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(log.has("I-ACS041004", VULLogger::Error));
}

} // namespace
