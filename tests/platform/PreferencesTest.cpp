#include "platform/Preferences.h"

#include "fakes/TempHome.h"
#include "platform/AppPaths.h"
#include "platform/PropertyListCodec.h"
#include "platform/UserNotices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

using platform::Preferences;
using platform::PropertyListCodec;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writePreferencesFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What the file holds, read back by the codec on its own.
QVariantMap fileContents(const QString& path)
{
    const auto value = PropertyListCodec::fromData(readFile(path));
    EXPECT_TRUE(value) << qPrintable(path);
    return value ? value->toMap() : QVariantMap();
}

// The copies a damaged file was kept under, beside it.
QStringList damagedCopiesOf(const QString& path)
{
    const QFileInfo info(path);
    QStringList copies;
    const QRegularExpression name(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.damaged-\\d{8}T\\d{6}Z(-\\d+)?")));
    for (const QString& entry : QDir(info.absolutePath()).entryList(QDir::Files)) {
        if (name.match(entry).hasMatch())
            copies << info.absolutePath() + QLatin1Char('/') + entry;
    }
    return copies;
}

class PreferencesTest : public ::testing::Test {
protected:
    PreferencesTest() { platform::UserNotices::shared().resetForTesting(); }
    ~PreferencesTest() override { platform::UserNotices::shared().resetForTesting(); }

    QString prefsDir() const { return platform::AppPaths::preferences(); }
    QString pathOf(const QString& name) const { return prefsDir() + QLatin1Char('/') + name; }

    fakes::TempHome home_;
};

} // namespace

TEST_F(PreferencesTest, SuitesAreOneObjectAndOneFileEach)
{
    Preferences& standard = Preferences::standard();
    EXPECT_EQ(Preferences::standardSuiteName(), QStringLiteral("org.pravik.PraVik"));
    EXPECT_EQ(standard.filePath(), pathOf(QStringLiteral("org.pravik.PraVik.plist")));
    EXPECT_EQ(&standard, &Preferences::suite(Preferences::standardSuiteName()));

    Preferences& a = Preferences::suite(QStringLiteral("group.a"));
    Preferences& b = Preferences::suite(QStringLiteral("group.b"));
    EXPECT_EQ(&a, &Preferences::suite(QStringLiteral("group.a")));
    EXPECT_NE(&a, &b);
    EXPECT_EQ(a.filePath(), pathOf(QStringLiteral("group.a.plist")));

    ASSERT_TRUE(standard.setValue(QStringLiteral("k"), QStringLiteral("standard")));
    ASSERT_TRUE(a.setValue(QStringLiteral("k"), QStringLiteral("a")));
    ASSERT_TRUE(b.setValue(QStringLiteral("other"), true));
    EXPECT_EQ(fileContents(standard.filePath()),
        (QVariantMap { { QStringLiteral("k"), QStringLiteral("standard") } }));
    EXPECT_EQ(fileContents(a.filePath()), (QVariantMap { { QStringLiteral("k"), QStringLiteral("a") } }));
    EXPECT_EQ(fileContents(b.filePath()), (QVariantMap { { QStringLiteral("other"), true } }));
}

TEST_F(PreferencesTest, SuiteNamesNeverLeadOutOfTheFolder)
{
    for (const QString& name :
        { QStringLiteral("../escape"), QStringLiteral(".."), QString(), QStringLiteral("a/b") }) {
        SCOPED_TRACE(qPrintable(name));
        Preferences& suite = Preferences::suite(name);
        EXPECT_TRUE(platform::AppPaths::isInside(suite.filePath(), prefsDir()))
            << qPrintable(suite.filePath());
        EXPECT_EQ(QFileInfo(suite.filePath()).absolutePath(), prefsDir());
    }
}

TEST_F(PreferencesTest, ValuesKeepTheirKindAcrossARestart)
{
    const QDateTime withMs(QDate(2024, 3, 1), QTime(8, 15, 30, 250), Qt::UTC);
    const std::vector<std::tuple<const char*, QVariant, QVariant>> cases {
        // key, given, what value() answers now and after a restart
        { "bool", true, true },
        { "integer", qlonglong(7), qlonglong(7) },
        { "int", int(7), qlonglong(7) },
        { "real", 7.0, 7.0 },
        { "string", QStringLiteral("seven"), QStringLiteral("seven") },
        { "data", QByteArray("\x00\x07", 2), QByteArray("\x00\x07", 2) },
        { "date", withMs, QDateTime(QDate(2024, 3, 1), QTime(8, 15, 30), Qt::UTC) },
        { "string list", QStringList { QStringLiteral("x") }, QVariantList { QStringLiteral("x") } },
        { "dict", QVariantMap { { QStringLiteral("n"), qlonglong(1) } },
            QVariantMap { { QStringLiteral("n"), qlonglong(1) } } },
    };
    Preferences& prefs = Preferences::suite(QStringLiteral("kinds"));
    for (const auto& [key, given, expected] : cases)
        ASSERT_TRUE(prefs.setValue(QString::fromLatin1(key), given)) << key;

    Preferences restarted(prefs.filePath());
    for (const auto& [key, given, expected] : cases) {
        SCOPED_TRACE(key);
        for (const Preferences* p : { &prefs, &restarted }) {
            const QVariant v = p->value(QString::fromLatin1(key));
            EXPECT_EQ(v.metaType(), expected.metaType()) << v.typeName();
            EXPECT_EQ(v, expected);
        }
    }
}

TEST_F(PreferencesTest, ValuesAPlistCannotHoldChangeNothing)
{
    Preferences& prefs = Preferences::suite(QStringLiteral("refusals"));
    ASSERT_TRUE(prefs.setValue(QStringLiteral("k"), qlonglong(1)));
    const QByteArray before = readFile(prefs.filePath());

    EXPECT_FALSE(prefs.setValue(QStringLiteral("k"), QPoint(1, 2)));
    EXPECT_FALSE(prefs.setValue(QStringLiteral("k"), QVariantList { 1, QPoint() }));
    EXPECT_FALSE(prefs.setValue(QStringLiteral("new"), std::numeric_limits<qulonglong>::max()));
    EXPECT_FALSE(prefs.setValue(QStringLiteral("bad\x01key"), 1));

    EXPECT_EQ(prefs.value(QStringLiteral("k")), QVariant(qlonglong(1)));
    EXPECT_FALSE(prefs.contains(QStringLiteral("new")));
    EXPECT_EQ(readFile(prefs.filePath()), before);
}

TEST_F(PreferencesTest, AnEmptyValueRemovesTheKey)
{
    Preferences& prefs = Preferences::suite(QStringLiteral("removal"));
    ASSERT_TRUE(prefs.setValue(QStringLiteral("a"), 1));
    ASSERT_TRUE(prefs.setValue(QStringLiteral("b"), 2));
    EXPECT_TRUE(prefs.setValue(QStringLiteral("a"), QVariant()));
    prefs.remove(QStringLiteral("b"));
    EXPECT_FALSE(prefs.contains(QStringLiteral("a")));
    EXPECT_FALSE(prefs.contains(QStringLiteral("b")));
    EXPECT_TRUE(fileContents(prefs.filePath()).isEmpty());
}

TEST_F(PreferencesTest, WritesGoThroughAtOnceAndLeaveNoTemporaryFile)
{
    Preferences& prefs = Preferences::suite(QStringLiteral("atomic"));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(prefs.setValue(QStringLiteral("key%1").arg(i), i));
    EXPECT_EQ(fileContents(prefs.filePath()).size(), 20);
    const QStringList entries = QDir(prefsDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_EQ(entries, QStringList { QStringLiteral("atomic.plist") });
}

TEST_F(PreferencesTest, ACorruptFileIsKeptAsideAndTheSuiteStartsEmpty)
{
    const std::vector<std::pair<const char*, QByteArray>> cases {
        { "empty", "" },
        { "garbage", "\xff\xfe not xml at all" },
        { "truncated", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><true/>" },
        { "array at the top", "<plist version=\"1.0\"><array><true/></array></plist>" },
        { "unknown element", "<plist version=\"1.0\"><dict><key>a</key><nil/></dict></plist>" },
        // A key that could never be written back would make every later write fail.
        { "lone surrogate in a key",
            "<?xml version=\"1.0\" encoding=\"UTF-7\"?><plist version=\"1.0\"><dict>"
            "<key>+2AA-</key><true/><key>b</key><integer>2</integer></dict></plist>" },
        { "binary cut short", QByteArray("bplist00\x09", 9) },
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        platform::UserNotices::shared().resetForTesting();
        const QString path = pathOf(QStringLiteral("corrupt-%1.plist").arg(QString::fromLatin1(name)));
        writePreferencesFile(path, bytes);

        Preferences prefs(path);
        EXPECT_TRUE(prefs.storedValues().isEmpty());
        EXPECT_FALSE(QFile::exists(path));
        const QStringList kept = damagedCopiesOf(path);
        ASSERT_EQ(kept.size(), 1) << qPrintable(kept.join(u' '));
        EXPECT_EQ(readFile(kept[0]), bytes);

        ASSERT_TRUE(prefs.setValue(QStringLiteral("fresh"), true));
        EXPECT_EQ(fileContents(path), (QVariantMap { { QStringLiteral("fresh"), true } }));
        EXPECT_EQ(readFile(kept[0]), bytes);
    }
}

TEST_F(PreferencesTest, EveryDamagedFileIsKeptAndTheUserIsToldWhere)
{
    const QString path = pathOf(QStringLiteral("org.pravik.PraVik.plist"));
    const std::vector<QByteArray> damaged { "first damaged file", "second damaged file", "third" };
    QStringList heard;
    platform::UserNotices::shared().setListener([&](const auto& notice) { heard << notice.text; });
    for (const QByteArray& bytes : damaged) {
        writePreferencesFile(path, bytes);
        Preferences prefs(path);
        EXPECT_TRUE(prefs.storedValues().isEmpty());
    }
    // Within the same second: every copy has its own name and its own bytes.
    QStringList kept = damagedCopiesOf(path);
    ASSERT_EQ(kept.size(), 3) << qPrintable(kept.join(u' '));
    QList<QByteArray> contents;
    for (const QString& copy : kept)
        contents << readFile(copy);
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (QList<QByteArray> { "first damaged file", "second damaged file", "third" }));

    // The user hears it once a run, with the file and where it was kept.
    const auto notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].text.contains(path)) << qPrintable(notices[0].text);
    EXPECT_TRUE(kept.contains(notices[0].text.section(QStringLiteral(" kept as "), 1).section(u',', 0, 0)))
        << qPrintable(notices[0].text);
    EXPECT_EQ(heard.size(), 1);
}

TEST_F(PreferencesTest, ABinaryFileIsReadAndKeptAcrossTheNextWrite)
{
    const QString path = pathOf(QStringLiteral("binary.plist"));
    QProcess python;
    python.start(QStringLiteral("python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import plistlib, sys, datetime\n"
                           "value = {'name': 'Grüße', 'count': 7, 'ratio': 0.5, 'on': True,\n"
                           "         'blob': b'\\x00\\xff', 'when': datetime.datetime(2024, 5, 6, 7, 8, 9),\n"
                           "         'list': [1, 'two', {'three': 3.0}]}\n"
                           "with open(sys.argv[1], 'wb') as f:\n"
                           "    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY)\n"),
            path });
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    ASSERT_TRUE(readFile(path).startsWith("bplist00"));

    const QVariantMap expected {
        { QStringLiteral("name"), QString::fromUtf8("Grüße") },
        { QStringLiteral("count"), qlonglong(7) },
        { QStringLiteral("ratio"), 0.5 },
        { QStringLiteral("on"), true },
        { QStringLiteral("blob"), QByteArray("\x00\xff", 2) },
        { QStringLiteral("when"), QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC) },
        { QStringLiteral("list"),
            QVariantList {
                qlonglong(1), QStringLiteral("two"), QVariantMap { { QStringLiteral("three"), 3.0 } } } },
    };
    Preferences prefs(path);
    EXPECT_EQ(prefs.storedValues(), expected);
    EXPECT_EQ(prefs.integerValue(QStringLiteral("count")), 7);
    EXPECT_TRUE(damagedCopiesOf(path).isEmpty());

    ASSERT_TRUE(prefs.setValue(QStringLiteral("added"), QStringLiteral("later")));
    QVariantMap after = expected;
    after.insert(QStringLiteral("added"), QStringLiteral("later"));
    EXPECT_EQ(fileContents(path), after); // written back as XML, nothing lost
}

TEST_F(PreferencesTest, AFolderThatRefusesWritesIsReportedOnce)
{
    // A plain file where the folder belongs refuses writes even to root.
    const QString folder = prefsDir() + QStringLiteral("/blocked");
    writePreferencesFile(folder, "not a folder");
    QStringList warnings;
    static QStringList* sink = nullptr;
    sink = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { sink->append(message); });

    Preferences prefs(folder + QStringLiteral("/prefs.plist"));
    for (int i = 0; i < 16; ++i)
        EXPECT_FALSE(prefs.setValue(QStringLiteral("key%1").arg(i), i));
    prefs.remove(QStringLiteral("key0"));
    EXPECT_FALSE(prefs.synchronize());
    qInstallMessageHandler(previous);
    sink = nullptr;

    EXPECT_EQ(prefs.integerValue(QStringLiteral("key15")), 15); // kept for this run
    EXPECT_EQ(warnings.size(), 1) << qPrintable(warnings.join(u'\n'));
    const auto notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].text.contains(folder)) << qPrintable(notices[0].text);
}

TEST_F(PreferencesTest, RegisteredDefaultsSitUnderStoredValuesAndAreNeverWritten)
{
    Preferences& prefs = Preferences::suite(QStringLiteral("defaults"));
    prefs.registerDefaults({ { QStringLiteral("volume"), 5 },
        { QStringLiteral("name"), QStringLiteral("mouse") }, { QStringLiteral("unwritable"), QPoint() } });
    EXPECT_EQ(prefs.value(QStringLiteral("volume")), QVariant(qlonglong(5)));
    EXPECT_TRUE(prefs.contains(QStringLiteral("name")));
    EXPECT_FALSE(prefs.contains(QStringLiteral("unwritable")));
    EXPECT_FALSE(QFile::exists(prefs.filePath()));

    ASSERT_TRUE(prefs.setValue(QStringLiteral("volume"), 9));
    EXPECT_EQ(prefs.integerValue(QStringLiteral("volume")), 9);
    EXPECT_EQ(prefs.dictionaryRepresentation(),
        (QVariantMap { { QStringLiteral("volume"), qlonglong(9) },
            { QStringLiteral("name"), QStringLiteral("mouse") } }));
    EXPECT_EQ(prefs.storedValues(), (QVariantMap { { QStringLiteral("volume"), qlonglong(9) } }));
    ASSERT_TRUE(prefs.synchronize());
    EXPECT_EQ(fileContents(prefs.filePath()), (QVariantMap { { QStringLiteral("volume"), qlonglong(9) } }));

    prefs.remove(QStringLiteral("volume"));
    EXPECT_EQ(prefs.integerValue(QStringLiteral("volume")), 5);
    EXPECT_TRUE(fileContents(prefs.filePath()).isEmpty());

    // A later registration replaces an earlier one, key by key.
    prefs.registerDefaults({ { QStringLiteral("volume"), 6 } });
    EXPECT_EQ(prefs.integerValue(QStringLiteral("volume")), 6);
    EXPECT_EQ(prefs.stringValue(QStringLiteral("name")), QStringLiteral("mouse"));
}

TEST_F(PreferencesTest, TypedReadsConvertNumbersWithoutOverflow)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* name;
        QVariant stored;
        bool asBool;
        qlonglong asInteger;
        double asDouble;
        QString asString;
    };
    // Fallbacks used below: bool true, integer -1, double -1.5, string "fb".
    const std::vector<Row> rows {
        { "true", true, true, 1, 1.0, QStringLiteral("fb") },
        { "false", false, false, 0, 0.0, QStringLiteral("fb") },
        { "zero", qlonglong(0), false, 0, 0.0, QStringLiteral("fb") },
        { "integer", qlonglong(-2), true, -2, -2.0, QStringLiteral("fb") },
        { "largest integer", std::numeric_limits<qlonglong>::max(), true,
            std::numeric_limits<qlonglong>::max(), 9223372036854775807.0, QStringLiteral("fb") },
        { "real", 3.9, true, 3, 3.9, QStringLiteral("fb") },
        { "negative real", -3.9, true, -3, -3.9, QStringLiteral("fb") },
        { "real zero", 0.0, false, 0, 0.0, QStringLiteral("fb") },
        { "real 2^63", 9223372036854775808.0, true, -1, 9223372036854775808.0, QStringLiteral("fb") },
        { "real -2^63", -9223372036854775808.0, true, std::numeric_limits<qlonglong>::min(),
            -9223372036854775808.0, QStringLiteral("fb") },
        { "real 1e19", 1e19, true, -1, 1e19, QStringLiteral("fb") },
        { "real -1e300", -1e300, true, -1, -1e300, QStringLiteral("fb") },
        { "infinity", inf, true, -1, inf, QStringLiteral("fb") },
        { "nan", nan, true, -1, nan, QStringLiteral("fb") },
        { "string", QStringLiteral("12"), true, -1, -1.5, QStringLiteral("12") },
        { "data", QByteArray("1"), true, -1, -1.5, QStringLiteral("fb") },
    };
    Preferences& prefs = Preferences::suite(QStringLiteral("typed"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = QString::fromLatin1(row.name);
        ASSERT_TRUE(prefs.setValue(key, row.stored));
        EXPECT_EQ(prefs.boolValue(key, true), row.asBool);
        EXPECT_EQ(prefs.integerValue(key, -1), row.asInteger);
        const double d = prefs.doubleValue(key, -1.5);
        if (std::isnan(row.asDouble))
            EXPECT_TRUE(std::isnan(d));
        else
            EXPECT_EQ(d, row.asDouble);
        EXPECT_EQ(prefs.stringValue(key, QStringLiteral("fb")), row.asString);
    }
    // A bool read of false-valued kinds must not fall back to true.
    EXPECT_FALSE(prefs.boolValue(QStringLiteral("zero"), true));
    // A missing key gives every fallback.
    EXPECT_TRUE(prefs.boolValue(QStringLiteral("missing"), true));
    EXPECT_EQ(prefs.integerValue(QStringLiteral("missing"), 42), 42);
    EXPECT_EQ(prefs.doubleValue(QStringLiteral("missing"), 2.5), 2.5);
    EXPECT_EQ(prefs.stringValue(QStringLiteral("missing"), QStringLiteral("fb")), QStringLiteral("fb"));
}

TEST_F(PreferencesTest, ReloadReadsTheFileAgain)
{
    Preferences& prefs = Preferences::suite(QStringLiteral("reload"));
    ASSERT_TRUE(prefs.setValue(QStringLiteral("a"), 1));
    Preferences other(prefs.filePath());
    ASSERT_TRUE(other.setValue(QStringLiteral("b"), 2));
    EXPECT_FALSE(prefs.contains(QStringLiteral("b")));
    prefs.reload();
    EXPECT_EQ(prefs.integerValue(QStringLiteral("b")), 2);

    QFile::remove(prefs.filePath());
    prefs.reload();
    EXPECT_TRUE(prefs.storedValues().isEmpty());
}

TEST_F(PreferencesTest, AFailedWriteIsReported)
{
    // /proc refuses new files even to root.
    Preferences prefs(QStringLiteral("/proc/pravik-no-such-dir/prefs.plist"));
    EXPECT_FALSE(prefs.setValue(QStringLiteral("a"), 1));
    EXPECT_FALSE(prefs.synchronize());
    EXPECT_EQ(prefs.integerValue(QStringLiteral("a")), 1); // kept for this run
}

TEST_F(PreferencesTest, ConcurrentWritersLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 25;
    std::vector<const Preferences*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            Preferences& prefs = Preferences::suite(QStringLiteral("concurrent"));
            seen[t] = &prefs;
            for (int i = 0; i < kKeysEach; ++i)
                prefs.setValue(QStringLiteral("t%1-%2").arg(t).arg(i), i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const Preferences* p : seen)
        EXPECT_EQ(p, seen.front());
    EXPECT_EQ(fileContents(seen.front()->filePath()).size(), kThreads * kKeysEach);
}

namespace {

TEST_F(PreferencesTest, ABatchIsWrittenWholeOrRefusedWhole)
{
    const QString path = pathOf(QStringLiteral("batch.plist"));
    platform::Preferences prefs(path);
    ASSERT_TRUE(prefs.setValue(QStringLiteral("gone"), 1));
    ASSERT_TRUE(prefs.setValues({ { QStringLiteral("a"), QStringLiteral("x") }, { QStringLiteral("b"), 2 },
        { QStringLiteral("gone"), QVariant() } }));
    const QVariantMap written = fileContents(path);
    EXPECT_EQ(written.value(QStringLiteral("a")), QVariant(QStringLiteral("x")));
    EXPECT_EQ(written.value(QStringLiteral("b")).toLongLong(), 2);
    EXPECT_FALSE(written.contains(QStringLiteral("gone")));

    // A value no property list can hold refuses the batch; nothing changes.
    EXPECT_FALSE(prefs.setValues({ { QStringLiteral("a"), QStringLiteral("y") },
        { QStringLiteral("c"), QVariant::fromValue(static_cast<QObject*>(nullptr)) } }));
    EXPECT_EQ(prefs.value(QStringLiteral("a")), QVariant(QStringLiteral("x")));
    EXPECT_FALSE(prefs.contains(QStringLiteral("c")));
    EXPECT_EQ(fileContents(path), written);
}

} // namespace
