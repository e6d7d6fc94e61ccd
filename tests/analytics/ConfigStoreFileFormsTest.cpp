#include "analytics/base/APMFileLocations.h"
#include "analytics/base/APMPersistentDictionary.h"
#include "analytics/base/APMUserDefaults.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/PropertyListCodec.h"
#include "platform/UserNotices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

// The key-value stores read what other tools leave in their files: the binary
// form as well as XML, and a damaged file is kept, never overwritten.

namespace {

const QVariantMap kStored {
    { QStringLiteral("name"), QStringLiteral("stored by another tool") },
    { QStringLiteral("count"), qlonglong(300) },
    { QStringLiteral("on"), true },
    { QStringLiteral("list"), QVariantList { qlonglong(1), 2.5 } },
};

// python3's plistlib writes the values above in the binary form.
void writeBinaryWithPlistlib(const QString& path)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QProcess python;
    python.start(QStringLiteral("python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import plistlib, sys\n"
                           "value = {'name': 'stored by another tool', 'count': 300, 'on': True,"
                           " 'list': [1, 2.5]}\n"
                           "with open(sys.argv[1], 'wb') as f:\n"
                           "    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY)\n"),
            path });
    ASSERT_TRUE(python.waitForStarted(10000)) << "python3 is needed as the property-list oracle";
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.readAll().startsWith("bplist00"));
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariantMap fileFormContents(const QString& path)
{
    const auto value = platform::PropertyListCodec::fromData(readBytes(path));
    return value ? value->toMap() : QVariantMap();
}

QStringList damagedCopiesOf(const QString& path)
{
    const QFileInfo info(path);
    QStringList copies;
    for (const QString& entry :
        QDir(info.absolutePath()).entryList({ info.fileName() + QStringLiteral(".damaged-*") }))
        copies << info.absolutePath() + QLatin1Char('/') + entry;
    return copies;
}

class ConfigStoreFileFormsTest : public ::testing::Test {
protected:
    ConfigStoreFileFormsTest() { platform::UserNotices::shared().resetForTesting(); }
    ~ConfigStoreFileFormsTest() override { platform::UserNotices::shared().resetForTesting(); }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
};

} // namespace

TEST_F(ConfigStoreFileFormsTest, PersistentDictionaryReadsABinaryFileAndKeepsItsValues)
{
    const QString path = APMApplicationSupportPlistPath(QStringLiteral("store"));
    writeBinaryWithPlistlib(path);

    auto store = APMPersistentDictionary::initWithFileName(QStringLiteral("store"), time_);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->objectForKey(QStringLiteral("count")), QVariant(qlonglong(300)));
    EXPECT_EQ(store->objectForKey(QStringLiteral("list")), QVariant(kStored.value(QStringLiteral("list"))));

    store->setObject(QStringLiteral("added"), QStringLiteral("new"));
    time_.advance(APMPersistentDictionary::kPersistDelaySeconds);
    QVariantMap expected = kStored;
    expected.insert(QStringLiteral("new"), QStringLiteral("added"));
    EXPECT_EQ(fileFormContents(path), expected);
}

TEST_F(ConfigStoreFileFormsTest, UserDefaultsReadABinarySuiteFile)
{
    const QString suite = QStringLiteral("BinarySuite");
    writeBinaryWithPlistlib(APMPreferencesPlistPath(suite));
    APMUserDefaults defaults(suite);
    EXPECT_EQ(
        defaults.objectForKey(QStringLiteral("name")), QVariant(QStringLiteral("stored by another tool")));
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("on")), QVariant(true));
}

TEST_F(ConfigStoreFileFormsTest, ADamagedStoreFileIsKeptAsideAndTheUserTold)
{
    const QString path = APMApplicationSupportPlistPath(QStringLiteral("store"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray damaged = "<plist version=\"1.0\"><dict><key>a</key>";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(damaged);
    }
    auto store = APMPersistentDictionary::initWithFileName(QStringLiteral("store"), time_);
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->objectForKey(QStringLiteral("a")).isValid());
    store->setObject(1, QStringLiteral("fresh"));
    time_.advance(APMPersistentDictionary::kPersistDelaySeconds);

    EXPECT_EQ(fileFormContents(path), (QVariantMap { { QStringLiteral("fresh"), qlonglong(1) } }));
    const QStringList kept = damagedCopiesOf(path);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readBytes(kept[0]), damaged);
    const auto notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].text.contains(kept[0])) << qPrintable(notices[0].text);
}
