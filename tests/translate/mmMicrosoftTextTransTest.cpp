#include "translate/mmMicrosoftTextTrans.h"

#include "core/MMUserInfo.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeTextTranslationService.h"
#include "platform/HttpClient.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using fakes::FakeHttpServer;
using fakes::FakeTextTranslationService;

TEST(MicrosoftTargetCodeTest, ChineseCodesBecomeTheServiceScriptCodes)
{
    const struct {
        const char* code;
        const char* expected;
    } cases[] = {
        { "cn", "zh-Hans" },
        { "zh-cn", "zh-Hans" },
        { "cht", "zh-Hant" },
        { "zh-Hans", "zh-Hans" },
        { "zh-Hant", "zh-Hant" },
        { "en", "en" },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(mmMicrosoftTextTrans::translatorTargetCode(QString::fromUtf8(c.code)),
            QString::fromUtf8(c.expected))
            << c.code;
}

TEST(MicrosoftRequestTest, CarriesTheTargetTheKeyAndTheTextButNoSource)
{
    mmApiKeyItem keys;
    keys.azure_translate_url = QStringLiteral("https://api.translator.example/translate");
    keys.azure_translate_key = QStringLiteral("0123abcd");
    const std::optional<platform::HttpRequest> request
        = mmMicrosoftTextTrans::request(keys, QStringLiteral("zh-Hans"), QStringLiteral("Say \"hi\"\n"), 7);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->url.toString(QUrl::FullyEncoded),
        QStringLiteral("https://api.translator.example/translate?api-version=3.0&to=zh-Hans"));
    EXPECT_EQ(request->body, R"([{"Text":"Say \"hi\"\n"}])");
    EXPECT_EQ(request->timeoutSeconds, 7);
    const QList<QPair<QByteArray, QByteArray>> headers {
        { "Content-Type", "application/json" },
        { "Ocp-Apim-Subscription-Region", "southeastasia" },
        { "Ocp-Apim-Subscription-Key", "0123abcd" },
    };
    EXPECT_EQ(request->headers, headers);

    // A code with query characters stays one value.
    const auto odd
        = mmMicrosoftTextTrans::request(keys, QStringLiteral("en&from=fr"), QStringLiteral("x"), 7);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->url.query(QUrl::FullyEncoded), QStringLiteral("api-version=3.0&to=en%26from%3Dfr"));
}

TEST(MicrosoftRequestTest, NoRequestWithoutAnAddressThatMayBeUsed)
{
    for (const char* address : { "", "not an address", "http://api.translator.example/translate",
             "ftp://127.0.0.1/translate", "https:///translate" }) {
        mmApiKeyItem keys;
        keys.azure_translate_url = QString::fromUtf8(address);
        keys.azure_translate_key = QStringLiteral("k");
        EXPECT_FALSE(mmMicrosoftTextTrans::request(keys, QStringLiteral("en"), QStringLiteral("x"), 7))
            << address;
    }
    for (const char* address : { "http://127.0.0.1:1/translate", "http://localhost/t", "http://[::1]:8/t" }) {
        mmApiKeyItem keys;
        keys.azure_translate_url = QString::fromUtf8(address);
        EXPECT_TRUE(mmMicrosoftTextTrans::request(keys, QStringLiteral("en"), QStringLiteral("x"), 7))
            << address;
    }
}

// The client against the fake service.
class MicrosoftClientTest : public ::testing::Test {
protected:
    struct Result {
        int calls = 0;
        bool success = false;
        QString text;
        bool onMainThread = true;
    };

    void SetUp() override { setAddress(service.address()); }

    void setAddress(const QString& address)
    {
        mmApiKeyItem keys;
        keys.azure_translate_url = address;
        keys.azure_translate_key = QStringLiteral("subscription-key-1");
        user.setApikeyItem(keys);
    }

    // One request through a client that is gone as soon as the call returns;
    // waits for the callback, and a little longer to catch a second call.
    Result translate(
        const QString& to, const QString& text, double timeout = mmMicrosoftTextTrans::kTimeoutSeconds)
    {
        auto result = std::make_shared<Result>();
        mmMicrosoftTextTrans(user, timeout)
            .textTranslationWithFromLang(
                QStringLiteral("fr"), to, text, [result](bool success, const QString& text) {
                    ++result->calls;
                    result->success = success;
                    result->text = text;
                    result->onMainThread = result->onMainThread && QThread::currentThread() == qApp->thread();
                });
        FakeHttpServer::waitUntil([&] { return result->calls > 0; }, 10000);
        FakeHttpServer::waitUntil([] { return false; }, 50);
        return *result;
    }

    FakeTextTranslationService service { QStringLiteral("subscription-key-1") };
    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user { prefs };
};

TEST_F(MicrosoftClientTest, EveryReplyReachesTheCallbackOnceWithTheRightText)
{
    const QByteArray two = R"([{"translations":[{"text":"first","to":"de"},{"text":"second","to":"de"}]},)"
                           R"({"translations":[{"text":"third","to":"de"}]}])";
    const struct {
        const char* name;
        FakeHttpServer::Reply reply;
        bool success;
        QString text;
    } cases[] = {
        { "translation",
            FakeTextTranslationService::translation(QStringLiteral("Guten Tag"), QStringLiteral("de")), true,
            QStringLiteral("Guten Tag") },
        { "first of several", FakeHttpServer::Reply::json(two), true, QStringLiteral("first") },
        { "empty translation", FakeTextTranslationService::translation(QString()), true, QStringLiteral("") },
        { "slow translation", FakeTextTranslationService::translation(QStringLiteral("spät")).after(300),
            true, QStringLiteral("spät") },
        { "service error", FakeTextTranslationService::error(401000, QStringLiteral("Not authorized."), 401),
            false, QStringLiteral("ErrorCode=401000,Not authorized.") },
        { "service error as text",
            FakeHttpServer::Reply::json(R"({"error":{"code":"400036","message":"m"}})", 400), false,
            QStringLiteral("ErrorCode=400036,m") },
        { "empty list", FakeHttpServer::Reply::json("[]"), false, mmMicrosoftTextTrans::kUnexpectedReply },
        { "no translations", FakeHttpServer::Reply::json(R"([{"detectedLanguage":{"language":"en"}}])"),
            false, mmMicrosoftTextTrans::kUnexpectedReply },
        { "empty translations", FakeHttpServer::Reply::json(R"([{"translations":[]}])"), false,
            mmMicrosoftTextTrans::kUnexpectedReply },
        { "translation without text", FakeHttpServer::Reply::json(R"([{"translations":[{"to":"de"}]}])"),
            false, mmMicrosoftTextTrans::kUnexpectedReply },
        { "object without error", FakeHttpServer::Reply::json(R"({"translations":[]})"), false,
            mmMicrosoftTextTrans::kUnexpectedReply },
        { "bad JSON", FakeHttpServer::Reply::json("[{\"translations\":"), false,
            mmMicrosoftTextTrans::kUnexpectedReply },
        { "HTTP error", FakeHttpServer::Reply::text("busy", 503), false, QStringLiteral("HTTP status 503") },
    };
    for (const auto& c : cases) {
        service.reply(c.reply);
        const Result result = translate(QStringLiteral("de"), QStringLiteral("Bonjour"));
        EXPECT_EQ(result.calls, 1) << c.name;
        EXPECT_EQ(result.success, c.success) << c.name;
        EXPECT_EQ(result.text, c.text) << c.name;
        EXPECT_TRUE(result.onMainThread) << c.name;
    }
    EXPECT_EQ(service.problems(), QStringList());
    const QList<FakeTextTranslationService::Translation> received = service.received();
    ASSERT_EQ(received.size(), qsizetype(std::size(cases)));
    EXPECT_EQ(received[0].to, QStringLiteral("de"));
    EXPECT_EQ(received[0].text, QStringLiteral("Bonjour"));
}

TEST_F(MicrosoftClientTest, ADroppedConnectionOrATimeoutIsAFailure)
{
    // Every attempt is dropped: the HTTP stack itself retries a request whose
    // connection closed before any reply.
    service.server().on("POST", FakeTextTranslationService::kPath, FakeHttpServer::Reply::closeConnection());
    const Result dropped = translate(QStringLiteral("en"), QStringLiteral("a"));
    EXPECT_EQ(dropped.calls, 1);
    EXPECT_FALSE(dropped.success);
    EXPECT_FALSE(dropped.text.isEmpty());

    service.reply(FakeHttpServer::Reply::neverAnswer());
    const Result late = translate(QStringLiteral("en"), QStringLiteral("b"), 0.3);
    EXPECT_EQ(late.calls, 1);
    EXPECT_FALSE(late.success);
    EXPECT_EQ(late.text, QStringLiteral("No complete reply within 0.3 s"));
    EXPECT_EQ(service.problems(), QStringList());
}

TEST_F(MicrosoftClientTest, WithoutAUsableAddressNothingIsSentAndTheCallerHearsWhy)
{
    for (const QString& address :
        { QString(), QStringLiteral("http://translator.example.invalid/translate") }) {
        setAddress(address);
        const Result result = translate(QStringLiteral("en"), QStringLiteral("private"));
        EXPECT_EQ(result.calls, 1);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.text, mmMicrosoftTextTrans::kNoAddress);
        EXPECT_TRUE(result.onMainThread);
    }
    user.setApikeyItem(std::nullopt);
    EXPECT_EQ(
        translate(QStringLiteral("en"), QStringLiteral("private")).text, mmMicrosoftTextTrans::kNoAddress);
    EXPECT_EQ(service.server().requestCount(), 0);
}

TEST_F(MicrosoftClientTest, ACallFromAnotherThreadIsAnsweredOnTheMainThread)
{
    service.reply(FakeTextTranslationService::translation(QStringLiteral("ok")));
    auto result = std::make_shared<Result>();
    QThread* worker = QThread::create([this, result] {
        mmMicrosoftTextTrans(user).textTranslationWithFromLang(QStringLiteral("fr"), QStringLiteral("en"),
            QStringLiteral("x"), [result](bool success, const QString& text) {
                ++result->calls;
                result->success = success;
                result->text = text;
                result->onMainThread = QThread::currentThread() == qApp->thread();
            });
    });
    worker->start();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return result->calls > 0; }, 10000));
    worker->wait();
    delete worker;
    EXPECT_TRUE(result->success);
    EXPECT_EQ(result->text, QStringLiteral("ok"));
    EXPECT_TRUE(result->onMainThread);
}

// The fake must refuse what the real service would.
TEST(FakeTextTranslationServiceTest, ListsEveryRequestTheServiceWouldRefuse)
{
    const struct {
        const char* name;
        std::function<void(platform::HttpRequest&)> spoil;
        QString problem; // empty: the request is fine
    } cases[] = {
        { "as built", {}, QString() },
        { "another key", [](auto& r) { r.headers[2].second = "other"; }, QStringLiteral("subscription key") },
        { "no region", [](auto& r) { r.headers.removeAt(1); }, QStringLiteral("subscription region") },
        { "a source language", [](auto& r) { r.url = QUrl(r.url.toString() + QStringLiteral("&from=fr")); },
            QStringLiteral("query names") },
        { "no target", [](auto& r) { r.url.setQuery(QStringLiteral("api-version=3.0&to=")); },
            QStringLiteral("no target language") },
        { "lower-case text key", [](auto& r) { r.body = R"([{"text":"x"}])"; },
            QStringLiteral("body is not") },
        { "two items", [](auto& r) { r.body = R"([{"Text":"x"},{"Text":"y"}])"; },
            QStringLiteral("body is not") },
        { "form body", [](auto& r) { r.headers[0].second = "text/plain"; }, QStringLiteral("content-type") },
    };
    for (const auto& c : cases) {
        FakeTextTranslationService service(QStringLiteral("key"));
        service.reply(FakeTextTranslationService::translation(QStringLiteral("t")));
        mmApiKeyItem keys;
        keys.azure_translate_url = service.address();
        keys.azure_translate_key = QStringLiteral("key");
        platform::HttpRequest request
            = *mmMicrosoftTextTrans::request(keys, QStringLiteral("en"), QStringLiteral("x"), 5);
        if (c.spoil)
            c.spoil(request);
        bool done = false;
        platform::HttpClient::shared().send(request, [&](const platform::HttpResponse&) { done = true; });
        ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return done; })) << c.name;

        const QStringList problems = service.problems();
        if (c.problem.isEmpty())
            EXPECT_EQ(problems, QStringList()) << c.name;
        else
            EXPECT_TRUE(problems.join(u'\n').contains(c.problem))
                << c.name << ": " << problems.join(u'\n').toStdString();
    }
}

} // namespace
