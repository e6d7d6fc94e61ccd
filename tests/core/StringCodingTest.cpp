#include "core/StringCoding.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

QString codingWithNul(const char* before, const char* after)
{
    return QString::fromLatin1(before) + QChar(u'\0') + QString::fromLatin1(after);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int value : values)
        data.append(static_cast<char>(value));
    return data;
}

TEST(StringCodingTest, Sha256ReproducesFipsVectorsUpToNul)
{
    EXPECT_EQ(StringCoding::sha256Value(QString()),
        QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(StringCoding::sha256Value(QStringLiteral("abc")),
        QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(
        StringCoding::sha256Value(QStringLiteral("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        QStringLiteral("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
    EXPECT_EQ(StringCoding::sha256Value(codingWithNul("a", "b")),
        QStringLiteral("ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"));
    EXPECT_EQ(
        StringCoding::uw_md5(QStringLiteral("abc")), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(StringCoding::uw_md5(codingWithNul("a", "b")), QStringLiteral("0cc175b9c0f1b6a831c399e269772661"));
}

TEST(StringCodingTest, FileMd5HashesTheWholeFileOrGivesEmptyText)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("data.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("a\0b", 3));
    file.close();
    EXPECT_EQ(StringCoding::getFileMD5StrFromPath(file.fileName()),
        QStringLiteral("70350f6027bce3713f6b76473084309b"));

    for (const QString& path : { dir.filePath(QStringLiteral("missing")), dir.path(), QString() }) {
        const QString result = StringCoding::getFileMD5StrFromPath(path);
        EXPECT_TRUE(result.isEmpty()) << path.toStdString();
        EXPECT_FALSE(result.isNull());
    }
}

TEST(StringCodingTest, HeaderDatesAreEnglishGmtWhateverTheZoneAndLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime utc(QDate(2026, 12, 9), QTime(10, 3, 41, 900), QTimeZone::utc());
    const QDateTime beijing(QDate(2026, 12, 9), QTime(18, 3, 41), QTimeZone(8 * 3600));
    const QString expected = QStringLiteral("Wed, 09 Dec 2026 10:03:41 GMT");
    EXPECT_EQ(StringCoding::currentRFC1123DateString(utc), expected);
    EXPECT_EQ(StringCoding::currentRFC1123DateString(beijing), expected);
    EXPECT_EQ(StringCoding::getTime(beijing), expected);
    EXPECT_EQ(StringCoding::getTime(QDateTime(QDate(1999, 1, 3), QTime(0, 0), QTimeZone::utc())),
        QStringLiteral("Sun, 03 Jan 1999 00:00:00 GMT"));
    EXPECT_TRUE(StringCoding::currentRFC1123DateString(QDateTime()).isNull());

    const QRegularExpression shape(QStringLiteral("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                                  "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                  "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT$"));
    EXPECT_TRUE(shape.match(StringCoding::currentRFC1123DateString()).hasMatch());
    EXPECT_TRUE(shape.match(StringCoding::getTime()).hasMatch());
    EXPECT_TRUE(shape.match(StringCoding::uw_rfc1123String()).hasMatch());
    QLocale::setDefault(QLocale::c());
}

TEST(StringCodingTest, FileNameDatesUseTheCalendarYear)
{
    // The last days of December that fall in week 1 of the next year still carry their own year.
    struct Case {
        QDate date;
        QTime time;
        const char* fileName;
        const char* header;
    };
    const Case cases[] = {
        { QDate(2026, 12, 31), QTime(23, 59, 58), "20261231235958", "Thu, 31 Dec 2026 23:59:58 GMT" },
        { QDate(2024, 12, 30), QTime(0, 0, 0), "20241230000000", "Mon, 30 Dec 2024 00:00:00 GMT" },
        { QDate(2021, 1, 1), QTime(7, 5, 9), "20210101070509", "Fri, 01 Jan 2021 07:05:09 GMT" },
    };
    for (const Case& c : cases) {
        // The wall-clock fields are used as they are, whatever zone they are in.
        const QDateTime wallClock(c.date, c.time, QTimeZone(-5 * 3600));
        EXPECT_EQ(StringCoding::uw_getCurrentDateString(wallClock), QString::fromLatin1(c.fileName));
        EXPECT_EQ(StringCoding::uw_rfc1123String(wallClock), QString::fromLatin1(c.header));
    }
    EXPECT_TRUE(StringCoding::uw_getCurrentDateString(QDateTime()).isNull());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{14}$"))
                    .match(StringCoding::uw_getCurrentDateString())
                    .hasMatch());
}

// Decoded bytes are text as they stand: U+FEFF at the start is a character
// (ZERO WIDTH NO-BREAK SPACE), not a byte-order mark to strip. Encodings from
// python3's base64 module.
TEST(StringCodingTest, Base64DecodingKeepsALeadingFeff)
{
    const QChar feff(0xFEFF);
    const std::pair<QString, const char*> cases[] = {
        { QString(feff), "77u/" },
        { feff + QStringLiteral("x"), "77u/eA==" },
        { QStringLiteral("x") + feff, "eO+7vw==" },
        { QString(feff) + feff + QStringLiteral("ab"), "77u/77u/YWI=" },
    };
    for (const auto& [text, encoded] : cases) {
        SCOPED_TRACE(encoded);
        EXPECT_EQ(StringCoding::uw_base64EncodeString(text), QString::fromLatin1(encoded));
        EXPECT_EQ(StringCoding::uw_base64DecodeString(QString::fromLatin1(encoded)), text);
    }
}

TEST(StringCodingTest, JsonTextGivesAnObjectOrNothing)
{
    const auto object
        = StringCoding::dictionaryWithJsonString(QStringLiteral(R"({"code":0,"data":{"status":2}})"));
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->value(QStringLiteral("data")).toObject().value(QStringLiteral("status")).toInt(), 2);
    EXPECT_TRUE(StringCoding::dictionaryWithJsonString(QStringLiteral("{}")).has_value());
    for (const QString& text : { QString(), QString(QStringLiteral("")), QStringLiteral("[1,2]"),
             QStringLiteral("{\"a\":"), QStringLiteral("not json") })
        EXPECT_FALSE(StringCoding::dictionaryWithJsonString(text).has_value()) << text.toStdString();
}

TEST(StringCodingTest, DeleteCharactersTrimsPunctuationAtBothEndsOnly)
{
    const std::pair<QString, QString> cases[] = {
        { QStringLiteral(",a,b,"), QStringLiteral("a,b") },
        { QStringLiteral("，打开微信。"), QStringLiteral("打开微信") },
        { QStringLiteral("「（hello world）」"), QStringLiteral("hello world") },
        { QStringLiteral("  €5¥ "), QStringLiteral("5") },
        { QStringLiteral("\"'&(a)'\""), QStringLiteral("a") },
        { QStringLiteral("a!"), QStringLiteral("a!") },
        { QStringLiteral("@#$%^"), QStringLiteral("") },
    };
    for (const auto& [input, expected] : cases) {
        const QString result = StringCoding::deleteCharacters(input);
        EXPECT_EQ(result, expected) << input.toStdString();
        EXPECT_FALSE(result.isNull());
    }
    EXPECT_TRUE(StringCoding::deleteCharacters(QString()).isNull());
    EXPECT_TRUE(StringCoding::deleteCharacters(QStringLiteral("")).isNull());
    EXPECT_EQ(StringCoding::removeSpaceAndNewline(QStringLiteral(" a b\r\nc\t")), QStringLiteral("abc\t"));
}

TEST(StringCodingTest, ImageBecomesOneUnbrokenBase64Png)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixelColor(3, 4, QColor(255, 0, 0, 128));
    const QString text = StringCoding::conversionImageToStringWithImage(image);
    ASSERT_GT(text.size(), 64);
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("\\s"))));
    const QByteArray png = QByteArray::fromBase64(text.toLatin1());
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    const QImage decoded = QImage::fromData(png, "PNG");
    ASSERT_EQ(decoded.size(), image.size());
    EXPECT_EQ(decoded.pixelColor(3, 4), QColor(255, 0, 0, 128));
    EXPECT_EQ(decoded.pixelColor(0, 0), QColor(10, 200, 30));
    EXPECT_TRUE(StringCoding::conversionImageToStringWithImage(QImage()).isNull());
}

TEST(StringCodingTest, LanguageCodesMapForTheIfyServiceOnly)
{
    const std::pair<const char*, const char*> cases[] = {
        { "zh_cn", "cn" },
        { "cn", "cn" },
        { "en_us", "en" },
        { "en_cn", "cn" }, // "cn" is tested before "en"
        { "en_es", "en" },
        { "ja_jp", "ja" },
        { "ko_KR", "ko" },
        { "id_ID", "id" },
        { "es_es", "es" },
        { "vi_vn", "auto" },
        { "EN_US", "auto" }, // the tests are case-sensitive
        { "", "auto" },
    };
    const QString service = QStringLiteral("ify");
    for (const auto& [code, expected] : cases) {
        EXPECT_EQ(StringCoding::conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
                      QString::fromLatin1(code), service),
            QString::fromLatin1(expected))
            << code;
    }
    for (const QString& other : { QStringLiteral("ms"), QStringLiteral("IFY"), QString() }) {
        const QString result = StringCoding::conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
            QStringLiteral("ko_KR"), other);
        EXPECT_TRUE(result.isEmpty());
        EXPECT_FALSE(result.isNull());
    }
}

TEST(StringCodingTest, BytesToText)
{
    const QString latin = StringCoding::stringFromData(bytes({ 0x41, 0x00, 0xE9 }));
    ASSERT_EQ(latin.size(), 3);
    EXPECT_EQ(latin.at(0), QChar(u'A'));
    EXPECT_EQ(latin.at(1), QChar(u'\0'));
    EXPECT_EQ(latin.at(2), QChar(0xE9));

    const std::pair<QByteArray, const char*> decimals[] = {
        { bytes({ 0x01, 0x00 }), "256" },
        { bytes({ 0x00 }), "0" },
        { bytes({ 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }), "18446744073709551615" },
        { bytes({ 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02 }),
            "2" }, // nine bytes: the last eight
        { bytes({ 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00 }), "256" },
    };
    for (const auto& [data, expected] : decimals)
        EXPECT_EQ(StringCoding::decimalStringFromHexData(data), QString::fromLatin1(expected)) << expected;
    EXPECT_TRUE(StringCoding::decimalStringFromHexData(QByteArray()).isNull());

    EXPECT_EQ(StringCoding::convertDataToHexStringWithData(bytes({ 0x0A, 0xBC, 0xFF, 0x00 })),
        QStringLiteral("0abcff00"));
    EXPECT_TRUE(StringCoding::convertDataToHexStringWithData(QByteArray()).isNull());
}

TEST(StringCodingTest, HexTextToBytes)
{
    const std::pair<const char*, QByteArray> cases[] = {
        { "ABC", bytes({ 0x0A, 0xBC }) }, // odd length: the first byte from one digit
        { "0A0B", bytes({ 0x0A, 0x0B }) },
        { "a55a0354", bytes({ 0xA5, 0x5A, 0x03, 0x54 }) },
        { "f", bytes({ 0x0F }) },
        { "zz", bytes({ 0x00 }) }, // no digits read as zero
        { "2g", bytes({ 0x02 }) }, // leading digits of a chunk count
        { "1g2", bytes({ 0x01, 0x00 }) },
        { "0x", bytes({ 0x00 }) },
    };
    for (const auto& [hex, expected] : cases)
        EXPECT_EQ(StringCoding::convertHexStringToDataWithString(QString::fromLatin1(hex)), expected) << hex;
    EXPECT_TRUE(StringCoding::convertHexStringToDataWithString(QString()).isEmpty());
    EXPECT_TRUE(StringCoding::convertHexStringToDataWithString(QStringLiteral("")).isEmpty());
}

TEST(StringCodingTest, BinaryDigits)
{
    EXPECT_EQ(StringCoding::getBinaryByHex(QStringLiteral("A1")), QStringLiteral("10100001"));
    EXPECT_EQ(StringCoding::getBinaryByHex(QStringLiteral("f-0 z")), QStringLiteral("11110000"));
    EXPECT_TRUE(StringCoding::getBinaryByHex(QString()).isEmpty());
    EXPECT_FALSE(StringCoding::getBinaryByHex(QString()).isNull());

    const std::pair<QString, const char*> cases[] = {
        { QStringLiteral("1010"), "10" },
        { QStringLiteral(""), "0" },
        { QStringLiteral("x1"), "1" }, // not a digit: counts 0
        { QStringLiteral("20"), "4" }, // each character counts with its own digit value
        { QStringLiteral("1") + QString(62, QChar(u'0')), "4611686018427387904" },
        { QString(63, QChar(u'1')), "9223372036854775807" },
    };
    for (const auto& [binary, expected] : cases)
        EXPECT_EQ(StringCoding::convertDecimalSystemFromBinarySystem(binary), QString::fromLatin1(expected))
            << expected;
    // Past a signed 64-bit number there is no answer.
    EXPECT_TRUE(
        StringCoding::convertDecimalSystemFromBinarySystem(QStringLiteral("1") + QString(63, QChar(u'0')))
            .isNull());
    EXPECT_TRUE(
        StringCoding::convertDecimalSystemFromBinarySystem(QStringLiteral("9") + QString(62, QChar(u'0')))
            .isNull());
}

TEST(StringCodingTest, UrlEncodingPerUtf8Byte)
{
    const std::pair<QString, const char*> cases[] = {
        { QStringLiteral("a b&c"), "a+b%26c" },
        { QStringLiteral("A-z_0.~"), "A-z_0.~" },
        { QStringLiteral("/?=+%"), "%2F%3F%3D%2B%25" },
        { QStringLiteral("é"), "%C3%A9" },
        { QStringLiteral("中 文"), "%E4%B8%AD+%E6%96%87" },
        { QStringLiteral(""), "" },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(StringCoding::mm_urlencode(text), QString::fromLatin1(expected)) << expected;
    EXPECT_TRUE(StringCoding::mm_urlencode(QString()).isNull());
}

TEST(StringCodingTest, JoiningAndSerials)
{
    const QString comma = QStringLiteral(",");
    EXPECT_EQ(StringCoding::mm_stringByCombineComponents(
                  { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }, comma),
        QStringLiteral("a,b,c"));
    EXPECT_EQ(
        StringCoding::mm_stringByCombineComponents({ QStringLiteral("x") }, comma), QStringLiteral("x"));
    EXPECT_EQ(StringCoding::mm_stringByCombineComponents({ QString(), QString() }, QStringLiteral("+")),
        QStringLiteral("+"));
    EXPECT_TRUE(StringCoding::mm_stringByCombineComponents({}, comma).isNull());

    EXPECT_EQ(StringCoding::changeMySN(QStringLiteral("AB12CDEF3456")), QStringLiteral("kwznAB00CDEF3456"));
    EXPECT_EQ(StringCoding::changeMySN(QStringLiteral("ABCD")), QStringLiteral("kwznAB00"));
    EXPECT_TRUE(StringCoding::changeMySN(QStringLiteral("ABC")).isNull());
    EXPECT_TRUE(StringCoding::changeMySN(QString()).isNull());
}

class MacAddressTest : public ::testing::Test {
protected:
    QTemporaryDir interfaces;

    void writeAddress(const QString& name, const QByteArray& content)
    {
        ASSERT_TRUE(QDir(interfaces.path()).mkpath(name));
        QFile file(QDir(interfaces.path()).filePath(name + QStringLiteral("/address")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    std::pair<QString, std::string> read(const QString& name)
    {
        testing::internal::CaptureStdout();
        const QString address = StringCoding::uw_getMacAddress(name, interfaces.path());
        return { address, testing::internal::GetCapturedStdout() };
    }
};

TEST_F(MacAddressTest, ReadsTheLinkLevelAddressInUpperCase)
{
    writeAddress(QStringLiteral("en0"), "a4:5e:60:0b:1c:ff\n");
    const auto [address, printed] = read(QStringLiteral("en0"));
    EXPECT_EQ(address, QStringLiteral("A4:5E:60:0B:1C:FF"));
    EXPECT_EQ(printed, "");
}

TEST_F(MacAddressTest, FailuresPrintTheirLineAndGiveNull)
{
    ASSERT_TRUE(QDir(interfaces.path()).mkpath(QStringLiteral("noaddress")));
    writeAddress(QStringLiteral("short"), "a4:5e:60:0b:1c\n");
    writeAddress(QStringLiteral("garbage"), "zz:5e:60:0b:1c:ff\n");
    writeAddress(QStringLiteral("long"), "80:00:02:08:fe:80:00:00:00:00:00:00:00:00:00:00:00:00:00:00\n");
    const std::pair<QString, std::string> cases[] = {
        { QStringLiteral("en0"), "Error: if_nametoindex error\n" },
        { QStringLiteral("../en0"), "Error: if_nametoindex error\n" },
        { QString(), "Error: if_nametoindex error\n" },
        { QStringLiteral("noaddress"), "Error: sysctl, take 1\n" },
        { QStringLiteral("short"), "Error: sysctl, take 2" },
        { QStringLiteral("garbage"), "Error: sysctl, take 2" },
        { QStringLiteral("long"), "Error: sysctl, take 2" },
    };
    for (const auto& [name, message] : cases) {
        const auto [address, printed] = read(name);
        EXPECT_TRUE(address.isNull()) << name.toStdString();
        EXPECT_EQ(printed, message) << name.toStdString();
    }
}

} // namespace
