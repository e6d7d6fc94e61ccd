#include "translate/NiutransTranslator.h"

#include "core/MMUserInfo.h"
#include "fakes/FakeMachineTranslationService.h"
#include "platform/HttpClient.h"
#include "platform/Preferences.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using fakes::FakeHttpServer;
using fakes::FakeMachineTranslationService;

struct NiutransOutcome {
    QString translation;
    QString error;
};

class NiutransTranslatorTest : public ::testing::Test {
protected:
    NiutransTranslatorTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , service_({ QStringLiteral("9a1c44e0"), QStringLiteral("mainland-key"), QStringLiteral("mainland-secret") },
              FakeMachineTranslationService::BodyStyle::Flat)
    {
        mmApiKeyItem keys;
        keys.ots_appid = QStringLiteral("9a1c44e0");
        keys.ots_appkey = QStringLiteral("mainland-key");
        keys.ots_appsecret = QStringLiteral("mainland-secret");
        keys.int_ots_appid = QStringLiteral("overseas-id");
        keys.int_ots_appkey = QStringLiteral("overseas-key");
        keys.int_ots_appsecret = QStringLiteral("overseas-secret");
        user_.setApikeyItem(keys);
        user_.setIpCountry(QStringLiteral("us"));
    }

    NiutransOutcome translate(const QString& text)
    {
        NiutransTranslator translator(user_, platform::HttpClient::shared(), service_.baseUrl());
        std::optional<NiutransOutcome> outcome;
        int calls = 0;
        translator.translateText(text, QStringLiteral("cn"), QStringLiteral("en"),
            [&](const QString& translation, const QString& error) {
                ++calls;
                outcome = NiutransOutcome { translation, error };
            });
        EXPECT_TRUE(FakeHttpServer::waitUntil([&] { return outcome.has_value(); }));
        EXPECT_EQ(calls, 1);
        return outcome.value_or(NiutransOutcome {});
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    FakeMachineTranslationService service_;
};

TEST_F(NiutransTranslatorTest, SendsThePlainTextSignedWithTheMainlandKeysWhateverTheRegion)
{
    service_.reply(FakeHttpServer::Reply::json(R"({"translatedText":"Hello, \"world\""})"));
    const NiutransOutcome outcome = translate(QStringLiteral("你好，\"世界\""));
    EXPECT_EQ(outcome.translation, QStringLiteral("Hello, \"world\""));
    EXPECT_TRUE(outcome.error.isNull());
    EXPECT_TRUE(service_.problems().isEmpty()) << service_.problems().join(u'\n').toStdString();
    ASSERT_EQ(service_.received().size(), 1);
    EXPECT_EQ(service_.received()[0].text, QStringLiteral("你好，\"世界\""));
    EXPECT_EQ(service_.received()[0].from, QStringLiteral("cn"));
    EXPECT_EQ(service_.received()[0].to, QStringLiteral("en"));
}

TEST_F(NiutransTranslatorTest, FailuresReachTheCallerAsErrors)
{
    struct Case {
        const char* name;
        FakeHttpServer::Reply reply;
    };
    const Case cases[] = {
        { "no translatedText", FakeHttpServer::Reply::json(R"({"code":0})") },
        { "not JSON", FakeHttpServer::Reply::text("<html>busy</html>") },
        { "HTTP error", FakeHttpServer::Reply::json(R"({"translatedText":"x"})", 500) },
        { "dropped connection", FakeHttpServer::Reply::closeConnection() },
        { "translatedText not text", FakeHttpServer::Reply::json(R"({"translatedText":7})") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.reply(c.reply);
        const NiutransOutcome outcome = translate(QStringLiteral("text"));
        EXPECT_TRUE(outcome.translation.isNull());
        EXPECT_FALSE(outcome.error.isEmpty());
    }
    EXPECT_TRUE(service_.problems().isEmpty()) << service_.problems().join(u'\n').toStdString();
}

TEST_F(NiutransTranslatorTest, RefusesPlainHttpToAnotherHostWithoutSending)
{
    NiutransTranslator translator(user_, platform::HttpClient::shared(), QStringLiteral("http://example.com"));
    std::optional<NiutransOutcome> outcome;
    translator.translateText(QStringLiteral("x"), QStringLiteral("cn"), QStringLiteral("en"),
        [&](const QString& translation, const QString& error) { outcome = NiutransOutcome { translation, error }; });
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return outcome.has_value(); }));
    EXPECT_TRUE(outcome->translation.isNull());
    EXPECT_FALSE(outcome->error.isEmpty());
}

TEST(NiutransSigningTest, SignatureCoversHostDateRequestLineAndDigest)
{
    QTemporaryDir dir;
    platform::Preferences prefs(dir.filePath(QStringLiteral("d.plist")));
    MMUserInfo user(prefs);
    NiutransTranslator translator(user, platform::HttpClient::shared(), QStringLiteral("https://ots.example:8443"));
    const QByteArray body = NiutransTranslator::requestBody(
        QStringLiteral("id"), QStringLiteral("a b"), QStringLiteral("en"), QStringLiteral("cn"));
    EXPECT_EQ(body, R"({"appId":"id","srcLang":"en","text":"a b","tgtLang":"cn"})");
    const QString date = QStringLiteral("Tue, 14 Nov 2023 22:13:20 GMT");
    const platform::HttpRequest request = translator.signedRequest(body, date);
    EXPECT_EQ(request.url.toString(), QStringLiteral("https://ots.example:8443/v2/ots"));
    const QByteArray digest = "SHA-256=" + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toBase64();
    const QByteArray signedText
        = "host: ots.example:8443\ndate: " + date.toUtf8() + "\nPOST /v2/ots HTTP/1.1\ndigest: " + digest;
    // No credentials were taken yet: the secret is empty.
    const QByteArray signature
        = QMessageAuthenticationCode::hash(signedText, QByteArray(), QCryptographicHash::Sha256).toBase64();
    QByteArray authorization;
    for (const auto& header : request.headers)
        if (header.first == "Authorization")
            authorization = header.second;
    EXPECT_TRUE(authorization.endsWith("signature=\"" + signature + '"')) << authorization.toStdString();
    EXPECT_EQ(NiutransTranslator::getCurrentDateRFC1123Format().right(4), QStringLiteral(" GMT"));
}

} // namespace
