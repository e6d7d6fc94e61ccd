#include "voice/mmXFYunRequestBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

// Computed independently (Python hmac, base64 and urllib.parse.quote with the
// URL-query character set) for these inputs.
const QString kEndpoint = QStringLiteral("wss://iat-api.xfyun.cn/v2/iat");
const QString kApiKey = QStringLiteral("0a1b2c3d4e5f60718293a4b5c6d7e8f9");
const QString kApiSecret = QStringLiteral("NzI0ZjFiYjY2ZTc5ZGQ1MjkwYmFiZmQy");
const QString kRequestDate = QStringLiteral("Tue, 14 Nov 2023 22:13:20 GMT"); // 1700000000
const QString kGoldenAuthorization = QStringLiteral(
    "YXBpX2tleT0iMGExYjJjM2Q0ZTVmNjA3MTgyOTNhNGI1YzZkN2U4ZjkiLCBhbGdvcml0aG09ImhtYWMtc2hhMjU2IiwgaGVhZGVycz0i"
    "aG9zdCBkYXRlIHJlcXVlc3QtbGluZSIsIHNpZ25hdHVyZT0iQXhGUlo0T0pRbVpwMFp3VmZ0b3NLa25BS0RLUG5wZzArbndsRkd2dVdI"
    "bz0i");
const QString kGoldenUrl = QStringLiteral("wss://iat-api.xfyun.cn/v2/iat?authorization=")
    + kGoldenAuthorization
    + QStringLiteral("&date=Tue,%2014%20Nov%202023%2022:13:20%20GMT&host=wss://iat-api.xfyun.cn/v2/iat");

TEST(AsrSignedUrlTest, MatchesTheGoldenUrlForAFixedDateAndCredentials)
{
    EXPECT_EQ(mmXFYunRequestBuilder::signatureOrigin(kEndpoint, kRequestDate),
        QStringLiteral("host: wss://iat-api.xfyun.cn/v2/iat\ndate: Tue, 14 Nov 2023 22:13:20 GMT\n"
                       "GET /v2/iat HTTP/1.1"));
    EXPECT_EQ(
        mmXFYunRequestBuilder::authorization(kEndpoint, kRequestDate, kApiKey, kApiSecret), kGoldenAuthorization);
    EXPECT_EQ(mmXFYunRequestBuilder::signedUrl(kEndpoint, kRequestDate, kApiKey, kApiSecret), kGoldenUrl);
}

TEST(AsrSignedUrlTest, EscapesEverythingOutsideTheQueryCharacterSet)
{
    // An endpoint with a port, a percent sign, a hash and a non-ASCII letter,
    // an empty key: only the signature part is opaque here.
    const QString endpoint = QStringLiteral("ws://127.0.0.1:8080/v2/iat#é%");
    const QString url = mmXFYunRequestBuilder::signedUrl(endpoint, kRequestDate, QString(), kApiSecret);
    EXPECT_TRUE(url.startsWith(QStringLiteral("ws://127.0.0.1:8080/v2/iat%23%C3%A9%25?authorization=")))
        << url.toStdString();
    EXPECT_TRUE(url.endsWith(QStringLiteral("&host=ws://127.0.0.1:8080/v2/iat%23%C3%A9%25")))
        << url.toStdString();
    for (const QChar c : url)
        EXPECT_TRUE(c.isLetterOrNumber() || QStringLiteral("!$&'()*+,-./:;=?@_~%").contains(c))
            << int(c.unicode());
}

TEST(AsrSignedUrlTest, ASecretThatCannotKeyTheMacGivesNoUrl)
{
    EXPECT_TRUE(
        mmXFYunRequestBuilder::authorization(kEndpoint, kRequestDate, kApiKey, QStringLiteral("秘密")).isNull());
    EXPECT_TRUE(mmXFYunRequestBuilder::signedUrl(kEndpoint, kRequestDate, kApiKey, QStringLiteral("秘密")).isNull());
}

struct BusinessCase {
    const char* language;
    DictationRegion region;
    const char* businessLanguage;
    const char* accent;
    const char* rlang;
    bool dynamicCorrection;
};

class AsrBusinessParametersTest : public ::testing::TestWithParam<BusinessCase> { };

TEST_P(AsrBusinessParametersTest, FollowTheLanguageAndTheRegion)
{
    const BusinessCase& c = GetParam();
    for (const quint64 punctuation : { 0u, 1u }) {
        QJsonObject expected {
            { QStringLiteral("language"), QString::fromUtf8(c.businessLanguage) },
            { QStringLiteral("domain"), QStringLiteral("iat") },
            { QStringLiteral("accent"), QString::fromUtf8(c.accent) },
            { QStringLiteral("vad_eos"), 1500 },
            { QStringLiteral("ptt"), int(punctuation) },
            { QStringLiteral("rlang"), QString::fromUtf8(c.rlang) },
            { QStringLiteral("nunum"), 1 },
        };
        if (c.dynamicCorrection)
            expected.insert(QStringLiteral("dwa"), QStringLiteral("wpgs"));
        EXPECT_EQ(
            mmXFYunRequestBuilder::businessParameters(QString::fromUtf8(c.language), punctuation, c.region),
            expected)
            << c.language << " punctuation " << punctuation;
    }
}

constexpr DictationRegion kMainland = DictationRegion::Mainland;
constexpr DictationRegion kOverseas = DictationRegion::Overseas;

INSTANTIATE_TEST_SUITE_P(Languages, AsrBusinessParametersTest,
    ::testing::Values(BusinessCase { "zh_cn", kMainland, "zh_cn", "mandarin", "zh-cn", true },
        BusinessCase { "zh_cn", kOverseas, "zh_cn", "mandarin", "zh-cn", false },
        BusinessCase { "zh_cn_cantonese_traditional", kMainland, "zh_cn", "cantonese", "zh-hk", true },
        BusinessCase { "zh_cn_cantonese_traditional", kOverseas, "zh_cn", "cantonese", "zh-hk", false },
        BusinessCase { "zh_cn_taiwan_traditional", kMainland, "zh_cn", "mandarin", "zh-hk", true },
        BusinessCase { "zh_cn_cn_cantonese", kMainland, "zh_cn", "cn_cantonese", "zh-cn", true },
        BusinessCase { "zh_cn_cn_lmz", kMainland, "zh_cn", "cn_lmz", "zh-cn", true },
        BusinessCase { "zh_cn_lmz", kMainland, "zh_cn", "lmz", "zh-cn", true },
        BusinessCase { "zh_cn_henanese", kMainland, "zh_cn", "henanese", "zh-cn", true },
        BusinessCase { "zh_cn_shanghainese", kMainland, "zh_cn", "shanghainese", "zh-cn", true },
        BusinessCase { "zh_cn_nanchangnese", kMainland, "zh_cn", "nanchangnese", "zh-cn", true },
        BusinessCase { "zh_cn_minnanese", kMainland, "zh_cn", "minnanese", "zh-cn", true },
        BusinessCase { "zh_cn_wuhanese", kMainland, "zh_cn", "wuhanese", "zh-cn", true },
        BusinessCase { "zh_cn_hakkanese", kMainland, "zh_cn", "hakkanese", "zh-cn", true },
        BusinessCase { "en_us", kMainland, "en_us", "mandarin", "", false },
        BusinessCase { "en_us", kOverseas, "en_us", "mandarin", "", true },
        BusinessCase { "ja_jp", kMainland, "ja_jp", "mandarin", "", false },
        BusinessCase { "ja_jp", kOverseas, "ja_jp", "mandarin", "", true },
        BusinessCase { "ru-ru", kOverseas, "ru-ru", "mandarin", "", true },
        BusinessCase { "", kMainland, "", "mandarin", "", false }));

QJsonObject parse(const QByteArray& frame)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(frame, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << frame.toStdString();
    return document.object();
}

QJsonObject data(int status, const QString& audio)
{
    return {
        { QStringLiteral("status"), status },
        { QStringLiteral("format"), QStringLiteral("audio/L16;rate=16000") },
        { QStringLiteral("encoding"), QStringLiteral("raw") },
        { QStringLiteral("audio"), audio },
    };
}

TEST(AsrFramesTest, CarryTheAudioAsBase64AndTheParametersOnlyFirst)
{
    // 0xFB 0xFF encodes to "+/8=": both non-alphanumeric characters of the
    // standard alphabet and its padding.
    const QByteArray pcm = QByteArray::fromHex("fbff00010203");
    const QJsonObject business
        = mmXFYunRequestBuilder::businessParameters(QStringLiteral("zh_cn"), 1, DictationRegion::Mainland);

    const QByteArray first = mmXFYunRequestBuilder::firstFrame(QStringLiteral("5f1e2d3c"), business, pcm);
    EXPECT_EQ(parse(first),
        (QJsonObject {
            { QStringLiteral("common"),
                QJsonObject { { QStringLiteral("app_id"), QStringLiteral("5f1e2d3c") } } },
            { QStringLiteral("business"), business },
            { QStringLiteral("data"), data(0, QStringLiteral("+/8AAQID")) },
        }));
    EXPECT_EQ(parse(mmXFYunRequestBuilder::middleFrame(QByteArray::fromHex("fbff"))),
        (QJsonObject { { QStringLiteral("data"), data(1, QStringLiteral("+/8=")) } }));
    EXPECT_EQ(parse(mmXFYunRequestBuilder::lastFrame()),
        (QJsonObject { { QStringLiteral("data"), data(2, QString()) } }));

    // Pretty-printed UTF-8 text.
    EXPECT_TRUE(first.contains('\n'));
}

// What the JSON writer makes of a frame object: the text the service has
// always been sent, which the builder must reproduce byte for byte.
QByteArray writerText(const QJsonObject& frame)
{
    return QJsonDocument(frame).toJson(QJsonDocument::Indented);
}

// Bytes that walk through every value, so every Base64 character turns up.
QByteArray pcmOf(qsizetype size)
{
    QByteArray pcm(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        pcm[i] = char(i * 37 + 11);
    return pcm;
}

TEST(AsrFramesTest, AreTheJsonWritersTextByteForByte)
{
    struct Case {
        QByteArray pcm;
        QString audio; // null: whatever the writer's Base64 gives
    };
    // RFC 4648's vectors give the Base64 independently; then every remainder
    // of three around one and several mSBC blocks (240 bytes each).
    const Case cases[] = {
        { QByteArray(), QStringLiteral("") },
        { "f", QStringLiteral("Zg==") },
        { "fo", QStringLiteral("Zm8=") },
        { "foo", QStringLiteral("Zm9v") },
        { "foob", QStringLiteral("Zm9vYg==") },
        { "fooba", QStringLiteral("Zm9vYmE=") },
        { "foobar", QStringLiteral("Zm9vYmFy") },
        { pcmOf(239), {} },
        { pcmOf(240), {} },
        { pcmOf(241), {} },
        { pcmOf(242), {} },
        { pcmOf(960), {} },
        { pcmOf(961), {} },
    };
    const QJsonObject mainland
        = mmXFYunRequestBuilder::businessParameters(QStringLiteral("zh_cn"), 1, DictationRegion::Mainland);
    const QJsonObject overseas
        = mmXFYunRequestBuilder::businessParameters(QStringLiteral("en_us"), 0, DictationRegion::Overseas);
    // An app id the writer has to escape: a quote, a backslash, a control character, non-ASCII.
    const QString oddAppId = QStringLiteral("a\"b\\c\u0001d/é应用");
    for (const Case& c : cases) {
        const QString audio = c.audio.isNull() ? QString::fromLatin1(c.pcm.toBase64()) : c.audio;
        EXPECT_EQ(mmXFYunRequestBuilder::middleFrame(c.pcm),
            writerText({ { QStringLiteral("data"), data(1, audio) } }))
            << c.pcm.size() << " bytes";
        for (const auto& [appId, business] :
            { std::pair { QStringLiteral("5f1e2d3c"), mainland }, std::pair { oddAppId, overseas } }) {
            EXPECT_EQ(mmXFYunRequestBuilder::firstFrame(appId, business, c.pcm),
                writerText({
                    { QStringLiteral("common"), QJsonObject { { QStringLiteral("app_id"), appId } } },
                    { QStringLiteral("business"), business },
                    { QStringLiteral("data"), data(0, audio) },
                }))
                << c.pcm.size() << " bytes, app id " << appId.toStdString();
        }
    }
    EXPECT_EQ(
        mmXFYunRequestBuilder::lastFrame(), writerText({ { QStringLiteral("data"), data(2, QString()) } }));
}

TEST(AsrFramesTest, AFullMsbcBlockKeepsEveryByte)
{
    QByteArray pcm(240, '\0');
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 7);
    const QJsonObject frame = parse(mmXFYunRequestBuilder::middleFrame(pcm));
    const QString audio
        = frame.value(QStringLiteral("data")).toObject().value(QStringLiteral("audio")).toString();
    EXPECT_EQ(audio.size(), 320);
    EXPECT_EQ(QByteArray::fromBase64(audio.toLatin1()), pcm);
}

} // namespace
