#include "core/HLParamTools.h"

#include "core/StringCoding.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

QString withNul(const char* before, const char* after)
{
    return QString::fromLatin1(before) + QChar(u'\0') + QString::fromLatin1(after);
}

struct HmacVector {
    QString key;
    QString message;
    QString base64;
};

// RFC 4231 cases whose key and data are ASCII (cases 1, 2 and 5 untruncated).
const HmacVector kRfc4231[] = {
    { QString(20, QChar(0x0b)), QStringLiteral("Hi There"),
        QStringLiteral("sDRMYdjbOFNcqK/OrwvxK4gdwgDJgz2nJuk3bC4yz/c=") },
    { QStringLiteral("Jefe"), QStringLiteral("what do ya want for nothing?"),
        QStringLiteral("W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=") },
    { QString(20, QChar(0x0c)), QStringLiteral("Test With Truncation"),
        QStringLiteral("o7YWdHMQDuBuDHlsKVVVK/pvfApqiu+Lk/hgqrDNIMU=") },
};

TEST(HLParamToolsTest, BothHmacHelpersReproduceRfc4231)
{
    for (const HmacVector& vector : kRfc4231) {
        SCOPED_TRACE(vector.message.toStdString());
        EXPECT_EQ(HLParamTools::hmacSHA256WithSecret(vector.key, vector.message), vector.base64);
        EXPECT_EQ(StringCoding::hmacSHA256WithSecret(vector.key, vector.message), vector.base64);
        EXPECT_EQ(vector.base64.size(), 44);
    }
}

TEST(HLParamToolsTest, HmacSignsSecretAndContentOnlyUpToNul)
{
    const QString signedA
        = QStringLiteral("eAw9tM495bnlWBb7qY9ZBjHZbAdScbJpdiONX0REIZs="); // key "key", data "a"
    EXPECT_EQ(HLParamTools::hmacSHA256WithSecret(QStringLiteral("key"), withNul("a", "b")), signedA);
    EXPECT_EQ(StringCoding::hmacSHA256WithSecret(QStringLiteral("key"), withNul("a", "b")), signedA);
    EXPECT_EQ(HLParamTools::hmacSHA256WithSecret(withNul("key", "junk"), QStringLiteral("a")), signedA);
    EXPECT_EQ(StringCoding::hmacSHA256WithSecret(withNul("key", "junk"), QStringLiteral("a")), signedA);
}

TEST(HLParamToolsTest, SecretEncodingDiffersBetweenTheTwoHelpers)
{
    // UTF-8 key bytes 6B C3 A9 here; the ASCII-keyed helper cannot key with "é" at all.
    EXPECT_EQ(HLParamTools::hmacSHA256WithSecret(QStringLiteral("ké"), QStringLiteral("msg")),
        QStringLiteral("MFoufj5ZVH0WnbH/0QmGAVcTq4vktswbFbas5d9HIpk="));
    EXPECT_TRUE(StringCoding::hmacSHA256WithSecret(QStringLiteral("ké"), QStringLiteral("msg")).isNull());
}

TEST(HLParamToolsTest, ContentHashCoversAllBytes)
{
    EXPECT_EQ(HLParamTools::hmacSHA256WithContent(QString()),
        QStringLiteral("47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="));
    EXPECT_EQ(HLParamTools::hmacSHA256WithContent(QStringLiteral("abc")),
        QStringLiteral("ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="));
    EXPECT_EQ(HLParamTools::hmacSHA256WithContent(withNul("a", "b")),
        QStringLiteral("WbJxrhu8sdMdQZKYF/Sxb7Q5608xUgta0dXOmJIKcTg="));
    EXPECT_EQ(StringCoding::hmacSHA256WithContent(withNul("a", "b")),
        HLParamTools::hmacSHA256WithContent(withNul("a", "b")));
}

TEST(HLParamToolsTest, Base64ReproducesRfc4648AndDecodesBack)
{
    const std::pair<const char*, const char*> vectors[] = {
        { "", "" },
        { "f", "Zg==" },
        { "fo", "Zm8=" },
        { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" },
        { "fooba", "Zm9vYmE=" },
        { "foobar", "Zm9vYmFy" },
    };
    for (const auto& [plain, encoded] : vectors) {
        SCOPED_TRACE(plain);
        const QString text = QString::fromLatin1(plain);
        EXPECT_EQ(HLParamTools::base64WithData(QByteArray(plain)), QString::fromLatin1(encoded));
        EXPECT_EQ(HLParamTools::base64EncodeString(text), QString::fromLatin1(encoded));
        EXPECT_EQ(StringCoding::uw_base64EncodeString(text), QString::fromLatin1(encoded));
        const QString decoded = HLParamTools::base64DecodeString(QString::fromLatin1(encoded));
        EXPECT_FALSE(decoded.isNull());
        EXPECT_EQ(decoded, text);
        EXPECT_EQ(StringCoding::uw_base64DecodeString(QString::fromLatin1(encoded)), text);
    }
    EXPECT_EQ(HLParamTools::base64EncodeString(QStringLiteral("héllo")), QStringLiteral("aMOpbGxv"));
    EXPECT_EQ(HLParamTools::base64DecodeString(QStringLiteral("aMOpbGxv")), QStringLiteral("héllo"));
}

TEST(HLParamToolsTest, Base64DecodingRejectsMalformedInputAndNonUtf8)
{
    const char* rejected[] = {
        "Zg", // missing padding
        "Zm9v!A==", // outside the alphabet
        "Zm 9v", // white space
        "Zm9v\n", // line break
        "=Zm9", // padding first
        "Zg=a", // padding inside
        "Z===", // too much padding
        "/w==", // the byte FF is not UTF-8
    };
    for (const char* text : rejected) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(HLParamTools::base64DecodeString(QString::fromLatin1(text)).isNull());
        EXPECT_TRUE(StringCoding::uw_base64DecodeString(QString::fromLatin1(text)).isNull());
    }
    EXPECT_TRUE(HLParamTools::base64DecodeString(QString()).isNull());
    EXPECT_TRUE(HLParamTools::base64DecodeString(QStringLiteral("Zm9vw6k=")).endsWith(QStringLiteral("é")));
}

TEST(HLParamToolsTest, Md5ReproducesRfc1321AndDiffersAtNul)
{
    const std::pair<const char*, const char*> vectors[] = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "a", "0cc175b9c0f1b6a831c399e269772661" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
        { "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b" },
        { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a" },
    };
    for (const auto& [plain, digest] : vectors) {
        SCOPED_TRACE(plain);
        const QString text = QString::fromLatin1(plain);
        EXPECT_EQ(HLParamTools::getMD5ByString(text), QString::fromLatin1(digest));
        EXPECT_EQ(HLParamTools::md532BitLower(text), QString::fromLatin1(digest));
        EXPECT_EQ(HLParamTools::md532BitUpper(text), QString::fromLatin1(digest).toUpper());
    }
    // All bytes for one, up to NUL for the others.
    EXPECT_EQ(
        HLParamTools::getMD5ByString(withNul("a", "b")), QStringLiteral("70350f6027bce3713f6b76473084309b"));
    EXPECT_EQ(
        HLParamTools::md532BitLower(withNul("a", "b")), QStringLiteral("0cc175b9c0f1b6a831c399e269772661"));
    EXPECT_EQ(
        HLParamTools::md532BitUpper(withNul("a", "b")), QStringLiteral("0CC175B9C0F1B6A831C399E269772661"));
}

TEST(HLParamToolsTest, TimestampCutsTheFractionAndSurvivesAnyDouble)
{
    const std::pair<double, const char*> cases[] = {
        { 1700000000.9, "1700000000" },
        { 0.0, "0" },
        { -1.5, "-1" },
        { std::nan(""), "0" },
        { std::numeric_limits<double>::infinity(), "9200000000000000000" },
        { -1e300, "-9200000000000000000" },
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(HLParamTools::getNowTimeTimestamp(seconds), QString::fromLatin1(text)) << seconds;
        EXPECT_EQ(StringCoding::uw_getCurrentTimeStamp(seconds), QString::fromLatin1(text)) << seconds;
    }
    bool ok = false;
    const qint64 now = HLParamTools::getNowTimeTimestamp().toLongLong(&ok);
    EXPECT_TRUE(ok);
    EXPECT_GT(now, 1700000000);
}

TEST(HLParamToolsTest, HmacSha1GivesTheEmptyText)
{
    const QString result = HLParamTools::HmacSha1(QStringLiteral("key"), QStringLiteral("data"));
    EXPECT_TRUE(result.isEmpty());
    EXPECT_FALSE(result.isNull());
}

} // namespace
