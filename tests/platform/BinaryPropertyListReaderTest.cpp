#include "platform/BinaryPropertyListReader.h"

#include "platform/PropertyListCodec.h"
#include "PropertyListTestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using platform::BinaryPropertyListReader;
using platform::PropertyListCodec;

namespace {

using plisttest::allBytes;
using plisttest::kMaxInt;
using plisttest::kMinInt;
using plisttest::same;
using plisttest::utc;




QByteArray bigEndian(quint64 value, unsigned width)
{
    QByteArray out(int(width), '\0');
    for (unsigned i = 0; i < width; ++i)
        out[int(width - 1 - i)] = char((value >> (8 * i)) & 0xFF);
    return out;
}

// Lays out a binary property list object by object, with any offset and
// reference size, and lets a test spoil any part of it.
class Builder {
public:
    explicit Builder(unsigned offsetSize = 1, unsigned refSize = 1)
        : offsetSize_(offsetSize)
        , refSize_(refSize)
    {
    }

    int next() const { return int(objects_.size()); }
    int raw(const QByteArray& body)
    {
        objects_.push_back(body);
        return next() - 1;
    }
    int boolean(bool v) { return raw(QByteArray(1, char(v ? 0x09 : 0x08))); }
    // width 1, 2, 4, 8 or 16 bytes; the bytes as given.
    int integer(unsigned width, quint64 high, quint64 low)
    {
        const int power = std::countr_zero(width);
        QByteArray body(1, char(0x10 | power));
        body += width == 16 ? bigEndian(high, 8) + bigEndian(low, 8) : bigEndian(low, width);
        return raw(body);
    }
    int real64(double v) { return raw(QByteArray(1, char(0x23)) + bigEndian(std::bit_cast<quint64>(v), 8)); }
    int real32(float v) { return raw(QByteArray(1, char(0x22)) + bigEndian(std::bit_cast<quint32>(v), 4)); }
    int date(double secondsSince2001)
    {
        return raw(QByteArray(1, char(0x33)) + bigEndian(std::bit_cast<quint64>(secondsSince2001), 8));
    }
    int data(const QByteArray& bytes) { return raw(header(0x4, quint64(bytes.size())) + bytes); }
    int ascii(const QByteArray& text) { return raw(header(0x5, quint64(text.size())) + text); }
    int utf16(const QString& text)
    {
        QByteArray body = header(0x6, quint64(text.size()));
        for (QChar c : text)
            body += bigEndian(c.unicode(), 2);
        return raw(body);
    }
    int array(const std::vector<quint64>& refs) { return raw(header(0xA, refs.size()) + refList(refs)); }
    int dict(const std::vector<quint64>& keys, const std::vector<quint64>& values)
    {
        return raw(header(0xD, keys.size()) + refList(keys) + refList(values));
    }

    // Marker and count; a count of 15 or more follows as an integer object.
    static QByteArray header(quint8 kind, quint64 count)
    {
        if (count < 15)
            return QByteArray(1, char((kind << 4) | count));
        QByteArray out(1, char((kind << 4) | 0xF));
        if (count <= 0xFF)
            return out + char(0x10) + bigEndian(count, 1);
        if (count <= 0xFFFF)
            return out + char(0x11) + bigEndian(count, 2);
        if (count <= 0xFFFFFFFF)
            return out + char(0x12) + bigEndian(count, 4);
        return out + char(0x13) + bigEndian(count, 8);
    }

    struct Trailer {
        std::optional<quint64> objectCount;
        std::optional<quint64> top;
        std::optional<quint64> tableOffset;
        std::optional<quint8> offsetSize;
        std::optional<quint8> refSize;
        std::vector<std::pair<int, quint64>> offsets; // object index, offset to write instead
    };

    QByteArray build(quint64 top, const Trailer& spoil = {}) const
    {
        QByteArray out("bplist00");
        std::vector<quint64> offsets;
        for (const QByteArray& body : objects_) {
            offsets.push_back(quint64(out.size()));
            out += body;
        }
        for (const auto& [index, offset] : spoil.offsets)
            offsets[size_t(index)] = offset;
        const quint64 tableOffset = quint64(out.size());
        for (quint64 offset : offsets)
            out += bigEndian(offset, offsetSize_);
        out += QByteArray(6, '\0');
        out += char(spoil.offsetSize.value_or(quint8(offsetSize_)));
        out += char(spoil.refSize.value_or(quint8(refSize_)));
        out += bigEndian(spoil.objectCount.value_or(objects_.size()), 8);
        out += bigEndian(spoil.top.value_or(top), 8);
        out += bigEndian(spoil.tableOffset.value_or(tableOffset), 8);
        return out;
    }

private:
    QByteArray refList(const std::vector<quint64>& refs) const
    {
        QByteArray out;
        for (quint64 r : refs)
            out += bigEndian(r, refSize_);
        return out;
    }

    unsigned offsetSize_;
    unsigned refSize_;
    std::vector<QByteArray> objects_;
};

// --- Python's plistlib as an independent writer ----------------------------

QByteArray pythonBinary(const QByteArray& valueExpression)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("python.plist"));
    const QByteArray script = "import datetime, plistlib, sys\n"
                              "value = "
        + valueExpression
        + "\n"
          "with open(sys.argv[1], 'wb') as f:\n"
          "    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY, sort_keys=False)\n";
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromUtf8(script), path });
    EXPECT_TRUE(python.waitForStarted(10000)) << "python3 is needed as the property-list oracle";
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}


} // namespace

TEST(BinaryPropertyListReader, ReadsEveryKindPythonWrites)
{
    const QByteArray file = pythonBinary(R"({
        "yes": True, "no": False,
        "zero": 0, "byte": 255, "two bytes": 65535, "four bytes": 4294967295,
        "eight bytes": 2**62, "minus one": -1, "int min": -2**63, "int max": 2**63 - 1,
        "real seven": 7.0, "tenth": 0.1, "negative zero": -0.0, "subnormal": 5e-324,
        "inf": float("inf"), "-inf": float("-inf"), "nan": float("nan"),
        "ascii": "plain text, longer than fifteen characters",
        "unicode": "Grüße, 你好, שלום, 😀",
        "empty": "",
        "bytes": bytes(range(256)),
        "no bytes": b"",
        "date": datetime.datetime(2024, 2, 29, 23, 59, 58),
        "old date": datetime.datetime(1901, 12, 13, 20, 45, 52),
        "first year": datetime.datetime(1, 1, 1),
        "last second": datetime.datetime(9999, 12, 31, 23, 59, 59),
        "nested": [[], {}, [1, [2.5, ["deep"]]], {"k": {"inner": True}}],
        "sixteen items": list(range(16)),
        "ключ": "UTF-16 key",
    })");
    ASSERT_TRUE(BinaryPropertyListReader::isBinary(file));
    QString error;
    const auto value = PropertyListCodec::fromData(file, &error);
    ASSERT_TRUE(value) << qPrintable(error);

    QVariantList sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen.append(qlonglong(i));
    const QVariantMap expected {
        { QStringLiteral("yes"), true },
        { QStringLiteral("no"), false },
        { QStringLiteral("zero"), qlonglong(0) },
        { QStringLiteral("byte"), qlonglong(255) },
        { QStringLiteral("two bytes"), qlonglong(65535) },
        { QStringLiteral("four bytes"), qlonglong(4294967295) },
        { QStringLiteral("eight bytes"), qlonglong(1) << 62 },
        { QStringLiteral("minus one"), qlonglong(-1) },
        { QStringLiteral("int min"), kMinInt },
        { QStringLiteral("int max"), kMaxInt },
        { QStringLiteral("real seven"), 7.0 },
        { QStringLiteral("tenth"), 0.1 },
        { QStringLiteral("negative zero"), -0.0 },
        { QStringLiteral("subnormal"), std::numeric_limits<double>::denorm_min() },
        { QStringLiteral("inf"), std::numeric_limits<double>::infinity() },
        { QStringLiteral("-inf"), -std::numeric_limits<double>::infinity() },
        { QStringLiteral("nan"), std::numeric_limits<double>::quiet_NaN() },
        { QStringLiteral("ascii"), QStringLiteral("plain text, longer than fifteen characters") },
        { QStringLiteral("unicode"), QString::fromUtf8("Grüße, 你好, שלום, 😀") },
        { QStringLiteral("empty"), QString() },
        { QStringLiteral("bytes"), allBytes() },
        { QStringLiteral("no bytes"), QByteArray() },
        { QStringLiteral("date"), utc(2024, 2, 29, 23, 59, 58) },
        { QStringLiteral("old date"), utc(1901, 12, 13, 20, 45, 52) },
        { QStringLiteral("first year"), utc(1, 1, 1) },
        { QStringLiteral("last second"), utc(9999, 12, 31, 23, 59, 59) },
        { QStringLiteral("nested"),
            QVariantList { QVariantList {}, QVariantMap {},
                QVariantList { qlonglong(1), QVariantList { 2.5, QVariantList { QStringLiteral("deep") } } },
                QVariantMap {
                    { QStringLiteral("k"), QVariantMap { { QStringLiteral("inner"), true } } } } } },
        { QStringLiteral("sixteen items"), sixteen },
        { QString::fromUtf8("ключ"), QStringLiteral("UTF-16 key") },
    };
    EXPECT_TRUE(same(expected, *value));
    // What was read can be written back.
    EXPECT_TRUE(PropertyListCodec::toXml(*value));
}

TEST(BinaryPropertyListReader, ReadsPythonFilesWithWideOffsetsAndReferences)
{
    // More than 255 objects need two-byte references; more than 64 KiB of
    // objects four-byte offsets.
    const QByteArray file
        = pythonBinary(R"({"items": [f"item {i}" for i in range(400)], "blob": bytes(range(256)) * 300})");
    ASSERT_GT(file.size(), 65536);
    QString error;
    const auto value = PropertyListCodec::fromData(file, &error);
    ASSERT_TRUE(value) << qPrintable(error);
    const QVariantMap map = value->toMap();
    const QVariantList items = map.value(QStringLiteral("items")).toList();
    ASSERT_EQ(items.size(), 400);
    EXPECT_EQ(items.last().toString(), QStringLiteral("item 399"));
    EXPECT_EQ(map.value(QStringLiteral("blob")).toByteArray(), allBytes().repeated(300));
}

TEST(BinaryPropertyListReader, PythonValuesTheWriterRefusesAreRefused)
{
    const std::vector<std::pair<const char*, QByteArray>> cases {
        { "integer past 2^63 (16 bytes)", "{'big': 2**63}" },
        { "largest 16-byte unsigned", "[2**64 - 1]" },
        { "control character", R"(['bell\x07'])" },
        { "non-character", R"(['\uffff'])" },
    };
    for (const auto& [name, expression] : cases) {
        SCOPED_TRACE(name);
        const QByteArray file = pythonBinary(expression);
        QString error;
        EXPECT_FALSE(PropertyListCodec::fromData(file, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(BinaryPropertyListReader, EveryOffsetAndReferenceSizeFromOneToEightBytes)
{
    for (unsigned offsetSize = 1; offsetSize <= 8; ++offsetSize) {
        for (unsigned refSize = 1; refSize <= 8; ++refSize) {
            SCOPED_TRACE(testing::Message() << "offsets " << offsetSize << ", references " << refSize);
            Builder b(offsetSize, refSize);
            const quint64 key = quint64(b.ascii("k"));
            const quint64 one = quint64(b.integer(1, 0, 1));
            const quint64 list = quint64(b.array({ one, one }));
            const quint64 top = quint64(b.dict({ key }, { list }));
            QString error;
            const auto value = BinaryPropertyListReader::read(b.build(top), &error);
            ASSERT_TRUE(value) << qPrintable(error);
            EXPECT_TRUE(
                same(QVariantMap { { QStringLiteral("k"), QVariantList { qlonglong(1), qlonglong(1) } } },
                    *value));
        }
    }
}

TEST(BinaryPropertyListReader, ObjectKindsPythonNeverWrites)
{
    struct Case {
        const char* name;
        std::function<int(Builder&)> add;
        QVariant expected;
    };
    const std::vector<Case> cases {
        { "four-byte real", [](Builder& b) { return b.real32(1.5f); }, 1.5 },
        { "16-byte small integer", [](Builder& b) { return b.integer(16, 0, 42); }, qlonglong(42) },
        { "16-byte negative integer", [](Builder& b) { return b.integer(16, ~quint64(0), quint64(-7)); },
            qlonglong(-7) },
        { "16-byte smallest integer", [](Builder& b) { return b.integer(16, ~quint64(0), quint64(kMinInt)); },
            kMinInt },
        { "date with a fraction keeps whole seconds", [](Builder& b) { return b.date(0.75); },
            utc(2001, 1, 1) },
        { "date before 2001 with a fraction", [](Builder& b) { return b.date(-0.25); },
            utc(2000, 12, 31, 23, 59, 59) },
        { "data with a count of 300", [](Builder& b) { return b.data(QByteArray(300, 'x')); },
            QByteArray(300, 'x') },
        { "empty UTF-16 string", [](Builder& b) { return b.utf16(QString()); }, QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Builder b;
        const int top = c.add(b);
        QString error;
        const auto value = PropertyListCodec::fromData(b.build(quint64(top)), &error);
        ASSERT_TRUE(value) << qPrintable(error);
        EXPECT_TRUE(same(c.expected, *value));
    }
}

// The file comes from outside: every way of pointing out of it, into itself or
// past any sane size must be refused with a reason, never followed.
TEST(BinaryPropertyListReader, MalformedFilesAreRefusedWithAReason)
{
    struct Case {
        const char* name;
        std::function<QByteArray()> file;
    };
    const auto simple = [](const std::function<void(Builder::Trailer&)>& spoil) {
        Builder b;
        const quint64 one = quint64(b.integer(1, 0, 1));
        b.array({ one });
        Builder::Trailer trailer;
        if (spoil)
            spoil(trailer);
        return b.build(1, trailer);
    };
    const auto single = [](const std::function<int(Builder&)>& add) {
        Builder b;
        return b.build(quint64(add(b)));
    };
    const std::vector<Case> cases {
        { "header only", [] { return QByteArray("bplist00"); } },
        { "trailer cut short", [&] { return simple(nullptr).chopped(1); } },
        { "no objects", [&] { return simple([](auto& t) { t.objectCount = 0; }); } },
        { "top object missing", [&] { return simple([](auto& t) { t.top = 2; }); } },
        { "more objects than the table holds", [&] { return simple([](auto& t) { t.objectCount = 3; }); } },
        { "huge object count", [&] { return simple([](auto& t) { t.objectCount = ~quint64(0); }); } },
        { "offset table past the end", [&] { return simple([](auto& t) { t.tableOffset = 1u << 20; }); } },
        { "offset table inside the header", [&] { return simple([](auto& t) { t.tableOffset = 2; }); } },
        { "huge offset table position", [&] { return simple([](auto& t) { t.tableOffset = ~quint64(0); }); } },
        { "offset size zero", [&] { return simple([](auto& t) { t.offsetSize = 0; }); } },
        { "offset size nine", [&] { return simple([](auto& t) { t.offsetSize = 9; }); } },
        { "reference size zero", [&] { return simple([](auto& t) { t.refSize = 0; }); } },
        { "reference size nine", [&] { return simple([](auto& t) { t.refSize = 9; }); } },
        { "object offset past the objects",
            [&] {
                return simple([](auto& t) { t.offsets = { { 0, 200 } }; });
            } },
        { "object offset inside the header",
            [&] {
                return simple([](auto& t) { t.offsets = { { 0, 3 } }; });
            } },
        { "reference to a missing object",
            [] {
                Builder b;
                b.array({ 5 });
                return b.build(0);
            } },
        { "array that contains itself",
            [] {
                Builder b;
                b.array({ 0 });
                return b.build(0);
            } },
        { "cycle through a dictionary",
            [] {
                Builder b;
                const quint64 key = quint64(b.ascii("k"));
                b.array({ 2 });
                b.dict({ key }, { 1 });
                return b.build(1);
            } },
        { "array count past the objects",
            [&] {
                return single([](Builder& b) { return b.raw(QByteArray::fromHex("af137fffffffffffffff")); });
            } },
        { "dictionary count past the objects",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("d30000")); }); } },
        { "data count past the objects",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("4f127fffffff")); }); } },
        { "string count past the objects",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("5e68656c6c6f")); }); } },
        { "UTF-16 count past the objects",
            [&] {
                return single([](Builder& b) { return b.raw(QByteArray::fromHex("6f138000000000000000")); });
            } },
        { "count that is not an integer",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("5f23")); }); } },
        { "count of 16 bytes",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("5f14")); }); } },
        { "integer cut short",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("1301")); }); } },
        { "integer of 32 bytes",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("1501")); }); } },
        { "16-byte integer past 2^63",
            [&] { return single([](Builder& b) { return b.integer(16, 0, quint64(kMaxInt) + 1); }); } },
        { "16-byte integer below -2^63",
            [&] { return single([](Builder& b) { return b.integer(16, ~quint64(0), 5); }); } },
        { "16-byte integer of 2^64", [&] { return single([](Builder& b) { return b.integer(16, 1, 0); }); } },
        { "two-byte real",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("210000")); }); } },
        { "real cut short",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("2300")); }); } },
        { "date of another size",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("3200000000")); }); } },
        { "date that is not a number",
            [&] { return single([](Builder& b) { return b.date(std::nan("")); }); } },
        { "date of infinity",
            [&] {
                return single([](Builder& b) { return b.date(std::numeric_limits<double>::infinity()); });
            } },
        { "date past any calendar", [&] { return single([](Builder& b) { return b.date(1e300); }); } },
        { "date in year 10000", [&] { return single([](Builder& b) { return b.date(253000000000.0); }); } },
        { "null", [&] { return single([](Builder& b) { return b.raw(QByteArray(1, '\0')); }); } },
        { "fill byte", [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("0f")); }); } },
        { "UID", [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("8001")); }); } },
        { "set", [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("c0")); }); } },
        { "unknown marker",
            [&] { return single([](Builder& b) { return b.raw(QByteArray::fromHex("70")); }); } },
        { "ASCII string with a high byte",
            [&] { return single([](Builder& b) { return b.ascii("caf\xE9"); }); } },
        { "lone surrogate in a UTF-16 string",
            [&] { return single([](Builder& b) { return b.utf16(QString(QChar(0xD800))); }); } },
        { "control character in a string",
            [&] { return single([](Builder& b) { return b.ascii("\x01"); }); } },
        { "lone surrogate in a key",
            [] {
                Builder b;
                const quint64 key = quint64(b.utf16(QString(QChar(0xDC00))));
                const quint64 yes = quint64(b.boolean(true));
                b.dict({ key }, { yes });
                return b.build(2);
            } },
        { "key that is not a string",
            [] {
                Builder b;
                const quint64 one = quint64(b.integer(1, 0, 1));
                b.dict({ one }, { one });
                return b.build(1);
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(PropertyListCodec::fromData(c.file(), &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(BinaryPropertyListReader, NestingIsLimitedLikeTheXmlForm)
{
    const auto nested = [](int depth) {
        Builder b(4, 4);
        int inner = b.ascii("bottom");
        for (int i = 0; i < depth; ++i)
            inner = b.array({ quint64(inner) });
        return b.build(quint64(inner));
    };
    QString error;
    EXPECT_TRUE(PropertyListCodec::fromData(nested(PropertyListCodec::kMaxDepth), &error))
        << qPrintable(error);
    EXPECT_FALSE(PropertyListCodec::fromData(nested(PropertyListCodec::kMaxDepth + 1), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nesting"))) << qPrintable(error);
    EXPECT_FALSE(PropertyListCodec::fromData(nested(100000)));
}

// Each level refers twice to the level below: 60 levels would unfold into
// 2^60 values from a file of a few hundred bytes.
TEST(BinaryPropertyListReader, SharedContainersCannotUnfoldPastTheFileSize)
{
    const auto doubling = [](int levels) {
        Builder b;
        int inner = b.boolean(true);
        for (int i = 0; i < levels; ++i)
            inner = b.array({ quint64(inner), quint64(inner) });
        return b.build(quint64(inner));
    };
    QString error;
    EXPECT_TRUE(PropertyListCodec::fromData(doubling(3), &error)) << qPrintable(error);
    EXPECT_FALSE(PropertyListCodec::fromData(doubling(60), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("unfold"))) << qPrintable(error);
}

TEST(BinaryPropertyListReader, OnlyTheBinaryHeaderSelectsTheBinaryReader)
{
    EXPECT_FALSE(BinaryPropertyListReader::isBinary(QByteArray("bplist0")));
    EXPECT_FALSE(BinaryPropertyListReader::isBinary(QByteArray("bplist01")));
    EXPECT_FALSE(BinaryPropertyListReader::read(QByteArray("<plist/>")));
    const auto xml = PropertyListCodec::toXml(QVariantMap { { QStringLiteral("k"), true } });
    ASSERT_TRUE(xml);
    const auto value = PropertyListCodec::fromData(*xml);
    ASSERT_TRUE(value);
    EXPECT_TRUE(same(QVariantMap { { QStringLiteral("k"), true } }, *value));
}
