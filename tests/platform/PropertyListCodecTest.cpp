#include "platform/PropertyListCodec.h"
#include "PropertyListTestSupport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using platform::PropertyListCodec;

namespace {

using plisttest::allBytes;
using plisttest::kMaxInt;
using plisttest::kMinInt;
using plisttest::same;
using plisttest::utc;

constexpr double kInf = std::numeric_limits<double>::infinity();



std::optional<QVariant> roundTrip(const QVariant& value)
{
    QString error;
    const auto xml = PropertyListCodec::toXml(value, &error);
    EXPECT_TRUE(xml) << qPrintable(error);
    if (!xml)
        return std::nullopt;
    const auto back = PropertyListCodec::fromXml(*xml, &error);
    EXPECT_TRUE(back) << qPrintable(error) << "\n" << xml->constData();
    return back;
}

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}


struct Case {
    const char* name;
    QVariant value;
};

// One of every kind, with the values where writers and readers usually slip.
std::vector<Case> kindCases()
{
    return {
        { "true", true },
        { "false", false },
        { "zero", qlonglong(0) },
        { "seven", qlonglong(7) },
        { "negative", qlonglong(-42) },
        { "largest integer", kMaxInt },
        { "smallest integer", kMinInt },
        { "real zero", 0.0 },
        { "negative zero", -0.0 },
        { "real seven", 7.0 },
        { "tenth", 0.1 },
        { "third", 1.0 / 3.0 },
        { "large real", 1e300 },
        { "largest real", std::numeric_limits<double>::max() },
        { "smallest normal", std::numeric_limits<double>::min() },
        { "subnormal", std::numeric_limits<double>::denorm_min() },
        { "negative tiny", -2.5e-300 },
        { "integral real past 2^53", 9007199254740993.0 },
        { "infinity", kInf },
        { "negative infinity", -kInf },
        { "nan", std::numeric_limits<double>::quiet_NaN() },
        { "empty string", QString() },
        { "plain string", QStringLiteral("hello") },
        { "markup", QStringLiteral("<a href=\"x\">&amp;</a> ]]> 'q'") },
        { "line ends", QStringLiteral("a\r\nb\rc\nd") },
        { "tabs and edge spaces", QStringLiteral("  \tpadded\t  ") },
        { "unicode", QString::fromUtf8("Grüße, 你好, שלום, 😀") },
        { "empty data", QByteArray() },
        { "all bytes", allBytes() },
        { "epoch", utc(1970, 1, 1) },
        { "leap day", utc(2024, 2, 29, 23, 59, 58) },
        { "first year", utc(1, 1, 1) },
        { "last second", utc(9999, 12, 31, 23, 59, 59) },
        { "empty array", QVariantList() },
        { "mixed array", QVariantList { qlonglong(1), 1.0, true, QStringLiteral("1"), QByteArray("1") } },
        { "empty dict", QVariantMap() },
        { "dict",
            QVariantMap { { QString(), QStringLiteral("empty key") },
                { QStringLiteral("<&>\r"), qlonglong(1) },
                { QStringLiteral("nested"),
                    QVariantMap {
                        { QStringLiteral("list"), QVariantList { QVariantList {}, QVariantMap {} } } } } } },
    };
}

QVariantMap kindsAsDict()
{
    QVariantMap all;
    for (const Case& c : kindCases())
        all.insert(QString::fromLatin1(c.name), c.value);
    return all;
}

// --- Python's plistlib as an independent reader and writer -----------------

const char* const kPythonReader = R"(
import base64, datetime, json, plistlib, sys
def describe(v):
    if isinstance(v, bool): return ["bool", v]
    if isinstance(v, int): return ["integer", str(v)]
    if isinstance(v, float): return ["real", repr(v)]
    if isinstance(v, str): return ["string", v]
    if isinstance(v, bytes): return ["data", base64.b64encode(v).decode()]
    if isinstance(v, datetime.datetime): return ["date", v.isoformat()]
    if isinstance(v, list): return ["array", [describe(x) for x in v]]
    if isinstance(v, dict): return ["dict", {k: describe(x) for k, x in v.items()}]
    raise TypeError(type(v))
with open(sys.argv[1], "rb") as f:
    print(json.dumps(describe(plistlib.load(f))))
)";

const char* const kPythonWriter = R"(
import datetime, plistlib, sys
value = {
    "yes": True, "no": False,
    "int seven": 7, "real seven": 7.0,
    "int min": -2**63, "int max": 2**63 - 1,
    "tenth": 0.1, "negative zero": -0.0, "subnormal": 5e-324, "largest": 1.7976931348623157e308,
    "inf": float("inf"), "-inf": float("-inf"), "nan": float("nan"),
    "markup": "<&> \"quoted\" ]]> 'single'",
    "unicode": "Grüße, 你好, שלום, 😀",
    "lines": "a\nb\tc",
    "empty": "",
    "bytes": bytes(range(256)),
    "no bytes": b"",
    "date": datetime.datetime(2024, 2, 29, 23, 59, 58),
    "old date": datetime.datetime(1901, 12, 13, 20, 45, 52),
    "nested": [[], {}, [1, [2.5, ["deep"]]], {"k": {"inner": True}}],
}
with open(sys.argv[1], "wb") as f:
    plistlib.dump(value, f)
)";

// Runs python3 -c script path; fails the test when Python is missing or the
// script fails.
QByteArray runPython(const char* script, const QString& path)
{
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromUtf8(script), path });
    EXPECT_TRUE(python.waitForStarted(10000)) << "python3 is needed as the property-list oracle";
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    return python.readAllStandardOutput();
}

double realFromPython(const QString& repr)
{
    if (repr == QLatin1String("inf"))
        return kInf;
    if (repr == QLatin1String("-inf"))
        return -kInf;
    if (repr == QLatin1String("nan"))
        return std::numeric_limits<double>::quiet_NaN();
    bool ok = false;
    const double v = repr.toDouble(&ok);
    EXPECT_TRUE(ok) << qPrintable(repr);
    return v;
}

// Turns the reader script's typed description back into a QVariant.
QVariant fromPython(const QJsonValue& described)
{
    const QJsonArray pair = described.toArray();
    const QString kind = pair.at(0).toString();
    const QJsonValue v = pair.at(1);
    if (kind == QLatin1String("bool"))
        return v.toBool();
    if (kind == QLatin1String("integer")) {
        bool ok = false;
        const qlonglong i = v.toString().toLongLong(&ok);
        EXPECT_TRUE(ok) << qPrintable(v.toString());
        return i;
    }
    if (kind == QLatin1String("real"))
        return realFromPython(v.toString());
    if (kind == QLatin1String("string"))
        return v.toString();
    if (kind == QLatin1String("data"))
        return QByteArray::fromBase64(v.toString().toLatin1());
    if (kind == QLatin1String("date")) {
        QDateTime date = QDateTime::fromString(v.toString(), Qt::ISODate);
        date.setTimeSpec(Qt::UTC); // plistlib hands out naive UTC times
        return date;
    }
    if (kind == QLatin1String("array")) {
        QVariantList list;
        for (const QJsonValue& item : v.toArray())
            list.append(fromPython(item));
        return list;
    }
    if (kind == QLatin1String("dict")) {
        QVariantMap map;
        const QJsonObject object = v.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(it.key(), fromPython(it.value()));
        return map;
    }
    ADD_FAILURE() << "unknown kind " << qPrintable(kind);
    return {};
}

QVariant nestedArrays(int depth)
{
    QVariant v = QStringLiteral("bottom");
    for (int i = 0; i < depth; ++i)
        v = QVariantList { v };
    return v;
}

QByteArray nestedXml(int depth)
{
    return plist(QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth));
}

} // namespace

TEST(PropertyListCodec, EveryKindRoundTrips)
{
    for (const Case& c : kindCases()) {
        SCOPED_TRACE(c.name);
        const auto back = roundTrip(c.value);
        ASSERT_TRUE(back);
        EXPECT_TRUE(same(c.value, *back));
    }
    const auto back = roundTrip(kindsAsDict());
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(kindsAsDict(), *back));
}

TEST(PropertyListCodec, IntegerRealAndBooleanStayApart)
{
    const QVariantList values { qlonglong(7), 7.0, true, qlonglong(1), 1.0, qlonglong(0), false };
    const auto xml = PropertyListCodec::toXml(values);
    ASSERT_TRUE(xml);
    EXPECT_TRUE(xml->contains("<integer>7</integer>"));
    EXPECT_TRUE(xml->contains("<real>7</real>"));
    EXPECT_TRUE(xml->contains("<true/>"));
    const auto back = PropertyListCodec::fromXml(*xml);
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(values, *back));
}

TEST(PropertyListCodec, OtherCppKindsAreWrittenAsTheirPlistKind)
{
    const QDateTime berlinWithMs(QDate(2024, 6, 1), QTime(14, 30, 15, 987), Qt::OffsetFromUTC, 2 * 3600);
    const std::vector<std::pair<QVariant, QVariant>> cases {
        { int(-5), qlonglong(-5) },
        { uint(4000000000u), qlonglong(4000000000LL) },
        { QVariant::fromValue(long(-3)), qlonglong(-3) },
        { QVariant::fromValue(static_cast<unsigned long>(kMaxInt)), kMaxInt },
        { qulonglong(kMaxInt), kMaxInt },
        { QVariant::fromValue(short(-2)), qlonglong(-2) },
        { QVariant::fromValue(ushort(65535)), qlonglong(65535) },
        { 0.5f, 0.5 },
        { QStringList { QStringLiteral("a"), QStringLiteral("b") },
            QVariantList { QStringLiteral("a"), QStringLiteral("b") } },
        // Dates are stored to the second, in UTC.
        { berlinWithMs, utc(2024, 6, 1, 12, 30, 15) },
    };
    for (const auto& [given, expected] : cases) {
        SCOPED_TRACE(given.typeName());
        const auto back = roundTrip(given);
        ASSERT_TRUE(back);
        EXPECT_TRUE(same(expected, *back));
    }
}

TEST(PropertyListCodec, ValuesAPlistCannotHoldAreRefused)
{
    QObject object;
    const std::vector<Case> cases {
        { "point", QPoint(1, 2) },
        { "object pointer", QVariant::fromValue(&object) },
        { "url", QUrl(QStringLiteral("https://example.org")) },
        { "json", QJsonValue(1) },
        { "hash", QVariantHash { { QStringLiteral("k"), 1 } } },
        { "char", QVariant::fromValue(QChar(u'x')) },
        { "nothing", QVariant() },
        { "nothing inside an array", QVariantList { 1, QVariant() } },
        { "point inside a dict", QVariantMap { { QStringLiteral("k"), QVariantList { QPoint() } } } },
        { "unsigned past the integer range", qulonglong(kMaxInt) + 1 },
        { "control character", QStringLiteral("bell\x07") },
        { "lone surrogate", QString(QChar(0xD800)) + QStringLiteral("x") },
        { "non-character", QString(QChar(0xFFFF)) },
        { "control character in a string list", QStringList { QStringLiteral("\x01") } },
        { "control character in a key", QVariantMap { { QStringLiteral("k\x02"), 1 } } },
        { "invalid date", QDateTime() },
        { "year 10000", utc(10000, 1, 1) },
        { "nesting past the limit", nestedArrays(PropertyListCodec::kMaxDepth + 1) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(PropertyListCodec::isSupported(c.value, &error));
        EXPECT_FALSE(error.isEmpty());
        error.clear();
        EXPECT_FALSE(PropertyListCodec::toXml(c.value, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(PropertyListCodec, MalformedInputIsRefusedWithAReason)
{
    const std::vector<std::pair<const char*, QByteArray>> cases {
        { "empty input", "" },
        { "not XML", "this is not a property list" },
        { "truncated", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>" },
        { "mismatched tags", plist("<array></dict>") },
        { "empty plist", plist("") },
        { "two values", plist("<true/><false/>") },
        { "second root", plist("<true/>") + "<plist/>" },
        { "unknown element", plist("<dict><key>a</key><float>1</float></dict>") },
        { "null element", plist("<array><null/></array>") },
        { "text inside true", plist("<true>yes</true>") },
        { "text between items", plist("<array>junk<string>a</string></array>") },
        { "element inside a string", plist("<string>a<b/></string>") },
        { "word as integer", plist("<integer>seven</integer>") },
        { "fraction as integer", plist("<integer>1.5</integer>") },
        { "empty integer", plist("<integer></integer>") },
        { "sign only", plist("<integer>-</integer>") },
        { "hex without digits", plist("<integer>0x</integer>") },
        { "just past the largest", plist("<integer>9223372036854775808</integer>") },
        { "largest unsigned", plist("<integer>18446744073709551615</integer>") },
        { "just past the smallest", plist("<integer>-9223372036854775809</integer>") },
        { "huge integer", plist("<integer>99999999999999999999999999</integer>") },
        { "word as real", plist("<real>abc</real>") },
        { "comma decimal", plist("<real>1,5</real>") },
        { "two signs", plist("<real>+-1</real>") },
        { "real overflow", plist("<real>1e400</real>") },
        { "hex real", plist("<real>0x1p3</real>") },
        { "bad Base64 characters", plist("<data>@@@@</data>") },
        { "bad Base64 padding", plist("<data>QQ=</data>") },
        { "bad date", plist("<date>yesterday</date>") },
        { "date without zone", plist("<date>2024-01-01T00:00:00</date>") },
        { "impossible date", plist("<date>2023-02-29T00:00:00Z</date>") },
        { "impossible time", plist("<date>2023-01-01T24:00:00Z</date>") },
        { "key without value", plist("<dict><key>a</key></dict>") },
        { "value without key", plist("<dict><string>a</string></dict>") },
        { "key outside a dict", plist("<key>a</key>") },
    };
    for (const auto& [name, xml] : cases) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_FALSE(PropertyListCodec::fromXml(xml, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

// Whatever the reader hands out is written back with the next change; a
// value the writer refuses would make every later write of the file fail.
TEST(PropertyListCodec, TextTheWriterRefusesIsRefusedOnReading)
{
    const auto declared = [](const char* encoding, const QByteArray& body) {
        return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\n<plist version=\"1.0\">"
            + body + "</plist>\n";
    };
    const std::vector<std::pair<const char*, QByteArray>> cases {
        // UTF-7 spells any UTF-16 unit, paired or not; the XML parser itself
        // lets lone surrogates through.
        { "lone high surrogate in a string", declared("UTF-7", "<string>a+2AA-b</string>") },
        { "lone low surrogate in a string", declared("UTF-7", "<string>+3AA-</string>") },
        { "lone surrogate in a key", declared("UTF-7", "<dict><key>+2AA-</key><true/></dict>") },
        { "lone surrogate deep down",
            declared(
                "UTF-7", "<array><dict><key>k</key><array><string>+2D0-</string></array></dict></array>") },
        { "non-character in a string", declared("UTF-7", "<string>+//8-</string>") },
        { "control character in a string", declared("UTF-7", "<string>+AAE-</string>") },
        { "control character in a key", declared("UTF-7", "<dict><key>+AAg-</key><true/></dict>") },
    };
    for (const auto& [name, xml] : cases) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_FALSE(PropertyListCodec::fromXml(xml, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(PropertyListCodec::fromData(xml));
    }
    // The same encoding with a surrogate pair is ordinary text.
    const auto pair = PropertyListCodec::fromXml(declared("UTF-7", "<string>+2D3eAA-</string>"));
    ASSERT_TRUE(pair);
    EXPECT_TRUE(same(QString::fromUtf8("😀"), *pair));
    EXPECT_TRUE(PropertyListCodec::toXml(*pair));
}

TEST(PropertyListCodec, ReadsTheSpellingsOtherWritersUse)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<QByteArray, QVariant>> cases {
        { plist("<integer> 42\n</integer>"), qlonglong(42) },
        { plist("<integer>+5</integer>"), qlonglong(5) },
        { plist("<integer>0x1F</integer>"), qlonglong(31) },
        { plist("<integer>-0x10</integer>"), qlonglong(-16) },
        { plist("<integer>9223372036854775807</integer>"), kMaxInt },
        { plist("<integer>-9223372036854775808</integer>"), kMinInt },
        { plist("<real>7</real>"), 7.0 },
        { plist("<real>-0</real>"), -0.0 },
        { plist("<real>1E3</real>"), 1000.0 },
        { plist("<real>.5</real>"), 0.5 },
        { plist("<real>nan</real>"), nan },
        { plist("<real>NaN</real>"), nan },
        { plist("<real>+infinity</real>"), kInf },
        { plist("<real>-infinity</real>"), -kInf },
        { plist("<real>inf</real>"), kInf },
        { plist("<real>-inf</real>"), -kInf },
        { plist("<data>\n\tQUJD\n\tREVG\n</data>"), QByteArray("ABCDEF") },
        { plist("<string><![CDATA[<raw & text>]]></string>"), QStringLiteral("<raw & text>") },
        { plist("<string>x&#13;y&#x1F600;</string>"), QStringLiteral("x\ry") + QString::fromUtf8("😀") },
        { plist("<string/>"), QString() },
        { plist("<!-- note --><dict><key>a</key><!-- here --><true/><key>a</key><false/></dict>"),
            QVariantMap { { QStringLiteral("a"), false } } },
        { "<?xml version=\"1.0\"?><string>no plist wrapper</string>", QStringLiteral("no plist wrapper") },
    };
    for (const auto& [xml, expected] : cases) {
        SCOPED_TRACE(xml.constData());
        QString error;
        const auto value = PropertyListCodec::fromXml(xml, &error);
        ASSERT_TRUE(value) << qPrintable(error);
        EXPECT_TRUE(same(expected, *value));
    }
}

TEST(PropertyListCodec, NestingIsLimitedBothWays)
{
    const int limit = PropertyListCodec::kMaxDepth;
    EXPECT_TRUE(PropertyListCodec::isSupported(nestedArrays(limit)));
    EXPECT_TRUE(roundTrip(nestedArrays(limit)));

    QString error;
    EXPECT_TRUE(PropertyListCodec::fromXml(nestedXml(limit), &error)) << qPrintable(error);
    EXPECT_FALSE(PropertyListCodec::fromXml(nestedXml(limit + 1), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nesting"))) << qPrintable(error);

    // Far deeper input stops at the limit instead of exhausting the stack.
    EXPECT_FALSE(PropertyListCodec::fromXml(nestedXml(200000)));

    QVariant dictsAndArrays = qlonglong(1);
    for (int i = 0; i <= limit; ++i)
        dictsAndArrays = i % 2 ? QVariant(QVariantList { dictsAndArrays })
                               : QVariant(QVariantMap { { QStringLiteral("k"), dictsAndArrays } });
    EXPECT_FALSE(PropertyListCodec::toXml(dictsAndArrays));
}

TEST(PropertyListCodec, DictKeysAreWrittenSorted)
{
    const QVariantMap map { { QStringLiteral("b"), 1 }, { QStringLiteral("a"), 2 },
        { QStringLiteral("C"), 3 }, { QString::fromUtf8("é"), 4 } };
    const auto xml = PropertyListCodec::toXml(map);
    ASSERT_TRUE(xml);
    const QString text = QString::fromUtf8(*xml);
    const qsizetype c = text.indexOf(QLatin1String("<key>C</key>"));
    const qsizetype a = text.indexOf(QLatin1String("<key>a</key>"));
    const qsizetype b = text.indexOf(QLatin1String("<key>b</key>"));
    const qsizetype e = text.indexOf(QString::fromUtf8("<key>é</key>"));
    EXPECT_TRUE(c >= 0 && c < a && a < b && b < e) << qPrintable(text);
}

TEST(PropertyListCodec, RealsIgnoreTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto xml = PropertyListCodec::toXml(QVariantList { 1.5, qlonglong(1234567) });
    const auto read = PropertyListCodec::fromXml(plist("<real>2.5</real>"));
    QLocale::setDefault(previous);
    ASSERT_TRUE(xml);
    EXPECT_TRUE(xml->contains("<real>1.5</real>")) << xml->constData();
    EXPECT_TRUE(xml->contains("<integer>1234567</integer>")) << xml->constData();
    ASSERT_TRUE(read);
    EXPECT_TRUE(same(2.5, *read));
}

TEST(PropertyListCodec, PythonReadsWhatWeWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ours.plist"));
    const QVariantMap value = kindsAsDict();
    const auto xml = PropertyListCodec::toXml(value);
    ASSERT_TRUE(xml);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(*xml);
    file.close();

    const QByteArray out = runPython(kPythonReader, path);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &parseError);
    ASSERT_FALSE(doc.isNull()) << qPrintable(parseError.errorString()) << out.constData();
    EXPECT_TRUE(same(value, fromPython(doc.array())));
}

TEST(PropertyListCodec, WeReadWhatPythonWrites)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("python.plist"));
    runPython(kPythonWriter, path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    const auto value = PropertyListCodec::fromXml(file.readAll(), &error);
    ASSERT_TRUE(value) << qPrintable(error);

    const QVariantMap expected {
        { QStringLiteral("yes"), true },
        { QStringLiteral("no"), false },
        { QStringLiteral("int seven"), qlonglong(7) },
        { QStringLiteral("real seven"), 7.0 },
        { QStringLiteral("int min"), kMinInt },
        { QStringLiteral("int max"), kMaxInt },
        { QStringLiteral("tenth"), 0.1 },
        { QStringLiteral("negative zero"), -0.0 },
        { QStringLiteral("subnormal"), std::numeric_limits<double>::denorm_min() },
        { QStringLiteral("largest"), std::numeric_limits<double>::max() },
        { QStringLiteral("inf"), kInf },
        { QStringLiteral("-inf"), -kInf },
        { QStringLiteral("nan"), std::numeric_limits<double>::quiet_NaN() },
        { QStringLiteral("markup"), QStringLiteral("<&> \"quoted\" ]]> 'single'") },
        { QStringLiteral("unicode"), QString::fromUtf8("Grüße, 你好, שלום, 😀") },
        { QStringLiteral("lines"), QStringLiteral("a\nb\tc") },
        { QStringLiteral("empty"), QString() },
        { QStringLiteral("bytes"), allBytes() },
        { QStringLiteral("no bytes"), QByteArray() },
        { QStringLiteral("date"), utc(2024, 2, 29, 23, 59, 58) },
        { QStringLiteral("old date"), utc(1901, 12, 13, 20, 45, 52) },
        { QStringLiteral("nested"),
            QVariantList { QVariantList {}, QVariantMap {},
                QVariantList { qlonglong(1), QVariantList { 2.5, QVariantList { QStringLiteral("deep") } } },
                QVariantMap {
                    { QStringLiteral("k"), QVariantMap { { QStringLiteral("inner"), true } } } } } },
    };
    EXPECT_TRUE(same(expected, *value));
}
