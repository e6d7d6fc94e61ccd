#include "translate/HLMachineTranslationRequest.h"

#include "core/LGNLocalizedString.h"
#include "core/HLHttpManager.h"
#include "core/HLParamTools.h"
#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "fakes/FakeMachineTranslationService.h"
#include "platform/HttpClient.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <optional>

namespace {

using fakes::FakeHttpServer;
using fakes::FakeMachineTranslationService;
using Request = HLMachineTranslationRequest;

// Computed independently (Python json, hashlib, hmac and base64) for these inputs.
const Request::Credentials kCredentials { QStringLiteral("5f3a9c21"),
    QStringLiteral("b1946ac92492d2347c6235b4d2611184"), QStringLiteral("MjlhYjM0ZDc4ZWYxMjA5NTY3OGFiY2Rl") };
const QByteArray kGoldenBody
    = R"({"business":{"from":"cn","to":"en"},"common":{"app_id":"5f3a9c21"},"data":{"text":"5L2g5aW977yM5LiW55WM"}})";
const QString kGoldenDigest = QStringLiteral("SHA-256=OxtkDJ+YDSGUgT9eUzipq12zp/L9gDCGPZ1yiRkAgro=");
const QString kGoldenSignature = QStringLiteral("ZFksRRA4W2iGDy+8VOTwnH33Q8SGZS+vN+7W3KLhpoc=");

HLMachineTranslationParam param(const QString& from, const QString& to, const QString& text)
{
    HLMachineTranslationParam p;
    p.business.from = from;
    p.business.to = to;
    p.data.text = HLParamTools::base64EncodeString(text);
    return p;
}

TEST(HLMachineTranslationSigningTest, MatchesTheGoldenRequestForAFixedClockAndCredentials)
{
    const QString date = StringCoding::getTime(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    ASSERT_EQ(date, QStringLiteral("Tue, 14 Nov 2023 22:13:20 GMT"));

    const Request::SignedRequest request = Request::signedRequest(
        param(QStringLiteral("cn"), QStringLiteral("en"), QStringLiteral("你好，世界")), kCredentials,
        Request::kDefaultBaseUrl, date);

    EXPECT_EQ(request.url, QStringLiteral("https://ntrans.xfyun.cn/v2/ots"));
    EXPECT_EQ(request.body, kGoldenBody);
    const QMap<QString, QString> expected {
        { QStringLiteral("Host"), QStringLiteral("ntrans.xfyun.cn") },
        { QStringLiteral("Date"), date },
        { QStringLiteral("Digest"), kGoldenDigest },
        { QStringLiteral("Authorization"),
            QStringLiteral(R"(api_key="b1946ac92492d2347c6235b4d2611184", algorithm="hmac-sha256", )"
                           R"(headers="host date request-line digest", signature=")")
                + kGoldenSignature + u'"' },
        { QStringLiteral("Content-Type"), QStringLiteral("application/json") },
    };
    EXPECT_EQ(request.header, expected);
}

TEST(HLMachineTranslationSigningTest, SignsTheHostAndPortItSendsToAndAlwaysThePathOfTheService)
{
    const Request::SignedRequest request
        = Request::signedRequest(param(QStringLiteral("en"), QStringLiteral("cn"), QStringLiteral("x")),
            kCredentials, QStringLiteral("http://127.0.0.1:8080/other/path?q=1"), QStringLiteral("D"));
    EXPECT_EQ(request.url, QStringLiteral("http://127.0.0.1:8080/v2/ots"));
    EXPECT_EQ(request.header.value(QStringLiteral("Host")), QStringLiteral("127.0.0.1:8080"));
}

TEST(HLMachineTranslationCredentialsTest, OnlyTheRegionCnUsesTheMainlandSet)
{
    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user { prefs };
    mmApiKeyItem keys;
    keys.ots_appid = QStringLiteral("cn-app");
    keys.ots_appkey = QStringLiteral("cn-key");
    keys.ots_appsecret = QStringLiteral("cn-secret");
    keys.int_ots_appid = QStringLiteral("int-app");
    keys.int_ots_appkey = QStringLiteral("int-key");
    keys.int_ots_appsecret = QStringLiteral("int-secret");
    user.setApikeyItem(keys);

    const struct {
        QString region;
        QString appId;
    } cases[] = {
        { QStringLiteral("cn"), QStringLiteral("cn-app") },
        { QString(), QStringLiteral("int-app") },
        { QStringLiteral(""), QStringLiteral("int-app") },
        { QStringLiteral("CN"), QStringLiteral("int-app") },
        { QStringLiteral("cn "), QStringLiteral("int-app") },
        { QStringLiteral("us"), QStringLiteral("int-app") },
    };
    for (const auto& c : cases) {
        user.setIpCountry(c.region);
        const Request::Credentials credentials = Request::credentialsFor(user);
        EXPECT_EQ(credentials.appId, c.appId) << c.region.toStdString();
        EXPECT_EQ(credentials.apiKey, c.appId == QLatin1String("cn-app") ? "cn-key" : "int-key");
        EXPECT_EQ(credentials.apiSecret, c.appId == QLatin1String("cn-app") ? "cn-secret" : "int-secret");
    }

    user.setApikeyItem(std::nullopt); // no device identified yet
    const Request::Credentials none = Request::credentialsFor(user);
    EXPECT_TRUE(none.appId.isEmpty() && none.apiKey.isEmpty() && none.apiSecret.isEmpty());
}

TEST(HLMachineTranslationParseTest, ReadsTheTranslationOrTheErrorCode)
{
    const QString noTranslation = LGNLocalizedString::lgnAppLocalizedString(Request::kRequestErrorFormat).arg(Request::kNoTranslation);
    const QVariantMap withDst { { QStringLiteral("data"),
        QVariantMap { { QStringLiteral("result"),
            QVariantMap { { QStringLiteral("trans_result"),
                QVariantMap { { QStringLiteral("dst"), QStringLiteral("T") } } } } } } } };
    auto with = [](QVariantMap map, const QString& key, const QVariant& value) {
        map.insert(key, value);
        return map;
    };
    const struct {
        const char* name;
        QVariant reply;
        bool failed;
        QString text;
    } cases[] = {
        { "code 0 with dst", with(withDst, QStringLiteral("code"), 0), false, QStringLiteral("T") },
        { "no code with dst", withDst, false, QStringLiteral("T") },
        { "error code, whatever else", with(withDst, QStringLiteral("code"), 10001), true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(10001) },
        { "error code as text", QVariantMap { { QStringLiteral("code"), QStringLiteral("10313") } }, true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(10313) },
        { "negative code", QVariantMap { { QStringLiteral("code"), -1 } }, true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(-1) },
        { "code 0 without data", QVariantMap { { QStringLiteral("code"), 0 } }, true, noTranslation },
        { "dst not a text",
            QVariantMap { { QStringLiteral("data"),
                QVariantMap { { QStringLiteral("result"),
                    QVariantMap { { QStringLiteral("trans_result"),
                        QVariantMap { { QStringLiteral("dst"), 42 } } } } } } } },
            true, noTranslation },
        { "data not an object", QVariantMap { { QStringLiteral("data"), QStringLiteral("x") } }, true,
            noTranslation },
        { "a list", QVariantList { 1, 2 }, true, noTranslation },
        { "nothing", QVariant(), true, noTranslation },
    };
    for (const auto& c : cases) {
        const Request::Outcome outcome = Request::transResultParseWithDic(c.reply);
        EXPECT_EQ(outcome.failed, c.failed) << c.name;
        EXPECT_EQ(outcome.text, c.text) << c.name;
    }
}

TEST(HLMachineTranslationAddressTest, TheEnvironmentOverridesTheServiceAddress)
{
    const QByteArray previous = qgetenv(Request::kBaseUrlVariable);
    qunsetenv(Request::kBaseUrlVariable);
    EXPECT_EQ(Request::configuredBaseUrl(), Request::kDefaultBaseUrl);
    qputenv(Request::kBaseUrlVariable, "http://127.0.0.1:9");
    EXPECT_EQ(Request::configuredBaseUrl(), QStringLiteral("http://127.0.0.1:9"));
    if (previous.isNull())
        qunsetenv(Request::kBaseUrlVariable);
    else
        qputenv(Request::kBaseUrlVariable, previous);
}

// The client against the fake service, over the overseas credentials.
class HLMachineTranslationClientTest : public ::testing::Test {
protected:
    struct Result {
        int calls = 0;
        bool failed = false;
        QString text;
        bool onMainThread = true;
    };

    void SetUp() override
    {
        mmApiKeyItem keys;
        keys.int_ots_appid = service.credentials().appId;
        keys.int_ots_appkey = service.credentials().apiKey;
        keys.int_ots_appsecret = service.credentials().apiSecret;
        keys.ots_appid = QStringLiteral("mainland-app"); // never used overseas
        user.setApikeyItem(keys);
        user.setIpCountry(QStringLiteral("us"));
    }

    void TearDown() override { HLHttpManager::restoreInitialConfiguration(); }

    // Sends one request and waits for its callback (and a little longer, to
    // catch a second call).
    Result translate(const QString& text, const QString& baseUrl = {})
    {
        auto result = std::make_shared<Result>();
        Request::getMachineTranslationWithParam(param(QStringLiteral("en"), QStringLiteral("cn"), text), user,
            baseUrl.isNull() ? service.baseUrl() : baseUrl, [result](bool failed, const QString& text) {
                ++result->calls;
                result->failed = failed;
                result->text = text;
                result->onMainThread = result->onMainThread && QThread::currentThread() == qApp->thread();
            });
        FakeHttpServer::waitUntil([&] { return result->calls > 0; }, 10000);
        FakeHttpServer::waitUntil([] { return false; }, 50);
        return *result;
    }

    FakeMachineTranslationService service { { QStringLiteral("4e7f21aa"),
        QStringLiteral("key-0123456789abcdef"), QStringLiteral("c2VjcmV0LWZvci10aGUtZmFrZQ") } };
    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user { prefs };
};

TEST_F(HLMachineTranslationClientTest, EveryReplyReachesTheCallbackOnceWithTheRightText)
{
    const struct {
        const char* name;
        FakeHttpServer::Reply reply;
        bool failed;
        QString text;
    } cases[] = {
        { "translation", FakeMachineTranslationService::translation(QStringLiteral("Hello, world")), false,
            QStringLiteral("Hello, world") },
        { "empty translation", FakeMachineTranslationService::translation(QString()), false,
            QStringLiteral("") },
        { "slow translation", FakeMachineTranslationService::translation(QStringLiteral("late")).after(300),
            false, QStringLiteral("late") },
        { "service error", FakeMachineTranslationService::error(10001, QStringLiteral("bad param")), true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(10001) },
        { "service error with an HTTP error",
            FakeMachineTranslationService::error(10313, QStringLiteral("appid"), 403), true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(10313) },
        { "HTTP error", FakeHttpServer::Reply::text("busy", 503), true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(QStringLiteral("HTTP status 503")) },
        { "bad JSON", FakeHttpServer::Reply::json("{\"code\":0,\"data\":"), true,
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(QStringLiteral("The reply is not JSON")) },
        { "no translation", FakeHttpServer::Reply::json(R"({"code":0,"message":"success"})"), true,
            LGNLocalizedString::lgnAppLocalizedString(Request::kRequestErrorFormat).arg(Request::kNoTranslation) },
    };
    int sent = 0;
    for (const auto& c : cases) {
        service.reply(c.reply);
        const Result result = translate(QStringLiteral("Bonjour le monde"));
        ++sent;
        EXPECT_EQ(result.calls, 1) << c.name;
        EXPECT_EQ(result.failed, c.failed) << c.name;
        EXPECT_EQ(result.text, c.text) << c.name;
        EXPECT_TRUE(result.onMainThread) << c.name;
    }
    EXPECT_EQ(service.problems(), QStringList());
    const QList<FakeMachineTranslationService::Translation> received = service.received();
    ASSERT_EQ(received.size(), sent);
    EXPECT_EQ(received[0].from, QStringLiteral("en"));
    EXPECT_EQ(received[0].to, QStringLiteral("cn"));
    EXPECT_EQ(received[0].text, QStringLiteral("Bonjour le monde"));
}

TEST_F(HLMachineTranslationClientTest, ADroppedConnectionOrATimeoutIsAFailure)
{
    // Every attempt is dropped: the HTTP stack itself retries a request whose
    // connection closed before any reply.
    service.server().on("POST", QStringLiteral("/v2/ots"), FakeHttpServer::Reply::closeConnection());
    const Result dropped = translate(QStringLiteral("a"));
    EXPECT_EQ(dropped.calls, 1);
    EXPECT_TRUE(dropped.failed);
    EXPECT_TRUE(dropped.text.startsWith(LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(QStringLiteral("")))) << dropped.text.toStdString();
    EXPECT_GT(dropped.text.size(), Request::kRequestErrorFormat.size());

    HLHttpManager::setSerializerTimeout(0.3);
    service.reply(FakeHttpServer::Reply::neverAnswer());
    const Result late = translate(QStringLiteral("b"));
    EXPECT_EQ(late.calls, 1);
    EXPECT_TRUE(late.failed);
    EXPECT_EQ(late.text, LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(QStringLiteral("No complete reply within 0.3 s")));
}

TEST_F(HLMachineTranslationClientTest, TheMainlandRegionSignsWithTheMainlandSet)
{
    mmApiKeyItem keys;
    keys.ots_appid = service.credentials().appId;
    keys.ots_appkey = service.credentials().apiKey;
    keys.ots_appsecret = service.credentials().apiSecret;
    user.setApikeyItem(keys);
    user.setIpCountry(QStringLiteral("cn"));
    service.reply(FakeMachineTranslationService::translation(QStringLiteral("好")));
    const Result result = translate(QStringLiteral("good"));
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.text, QStringLiteral("好"));
    EXPECT_EQ(service.problems(), QStringList());
}

TEST_F(HLMachineTranslationClientTest, RefusesToSendOverPlainHttpToAnotherMachine)
{
    for (const QString& address : { QStringLiteral("http://ntrans.example.invalid"),
             QStringLiteral("ftp://127.0.0.1"), QStringLiteral("") }) {
        const Result result = translate(QStringLiteral("secret text"), address);
        EXPECT_EQ(result.calls, 1) << address.toStdString();
        EXPECT_TRUE(result.failed) << address.toStdString();
        EXPECT_TRUE(result.text.startsWith(LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kRequestErrorFormat).arg(QStringLiteral("")))) << address.toStdString();
        EXPECT_TRUE(result.onMainThread);
    }
    EXPECT_EQ(service.server().requestCount(), 0);
}

TEST_F(HLMachineTranslationClientTest, ACallFromAnotherThreadIsAnsweredOnTheMainThread)
{
    service.reply(FakeMachineTranslationService::translation(QStringLiteral("ok")));
    auto result = std::make_shared<Result>();
    const QString baseUrl = service.baseUrl();
    QThread* worker = QThread::create([this, result, baseUrl] {
        Request::getMachineTranslationWithParam(
            param(QStringLiteral("en"), QStringLiteral("cn"), QStringLiteral("x")), user, baseUrl,
            [result](bool failed, const QString& text) {
                ++result->calls;
                result->failed = failed;
                result->text = text;
                result->onMainThread = QThread::currentThread() == qApp->thread();
            });
    });
    worker->start();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return result->calls > 0; }, 10000));
    worker->wait();
    delete worker;
    EXPECT_EQ(result->text, QStringLiteral("ok"));
    EXPECT_TRUE(result->onMainThread);
}

// The fake must refuse what the real service would: requests signed right
// and then spoiled in one way each.
TEST(FakeMachineTranslationServiceTest, ListsEveryRequestTheServiceWouldRefuse)
{
    using SpoilInputs = std::function<void(Request::Credentials&, QString & date)>;
    using SpoilRequest = std::function<void(Request::SignedRequest&)>;
    const FakeMachineTranslationService::Credentials credentials { QStringLiteral("app"),
        QStringLiteral("key"), QStringLiteral("secret") };
    const struct {
        const char* name;
        SpoilInputs spoilInputs; // before signing
        SpoilRequest spoilRequest; // after signing
        QString problem; // empty: the request is fine
    } cases[] = {
        { "as signed", {}, {}, QString() },
        { "another secret", [](auto& c, auto&) { c.apiSecret = QStringLiteral("other"); }, {},
            QStringLiteral("signature cannot be verified") },
        { "another key", [](auto& c, auto&) { c.apiKey = QStringLiteral("other"); }, {},
            QStringLiteral("unknown api_key") },
        { "another app", [](auto& c, auto&) { c.appId = QStringLiteral("other"); }, {},
            QStringLiteral("unknown app_id") },
        { "an hour old",
            [](auto&, auto& date) {
                date = StringCoding::getTime(QDateTime::currentDateTimeUtc().addSecs(-3600));
            },
            {}, QStringLiteral("too far from now") },
        { "body changed", {}, [](auto& r) { r.body.replace("\"en\"", "\"fr\""); },
            QStringLiteral("digest does not match the body") },
        { "other host", {},
            [](auto& r) { r.header[QStringLiteral("Host")] = QStringLiteral("ntrans.xfyun.cn"); },
            QStringLiteral("host is") },
        { "text not Base64", {}, [](auto& r) { r.body.replace("\"eA==\"", "\"x\""); },
            QStringLiteral("data.text") },
        { "no date", {}, [](auto& r) { r.header.remove(QStringLiteral("Date")); },
            QStringLiteral("not an HTTP date") },
    };
    for (const auto& c : cases) {
        FakeMachineTranslationService service(credentials);
        service.reply(FakeMachineTranslationService::translation(QStringLiteral("t")));
        Request::Credentials signing { credentials.appId, credentials.apiKey, credentials.apiSecret };
        QString date = StringCoding::getTime();
        if (c.spoilInputs)
            c.spoilInputs(signing, date);
        Request::SignedRequest request
            = Request::signedRequest(param(QStringLiteral("en"), QStringLiteral("cn"), QStringLiteral("x")),
                signing, service.baseUrl(), date);
        if (c.spoilRequest)
            c.spoilRequest(request);

        platform::HttpRequest http;
        http.method = "POST";
        http.url = QUrl(request.url);
        for (auto it = request.header.begin(); it != request.header.end(); ++it)
            http.headers.append({ it.key().toUtf8(), it.value().toUtf8() });
        http.body = request.body;
        bool done = false;
        platform::HttpClient::shared().send(http, [&](const platform::HttpResponse&) { done = true; });
        ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return done; })) << c.name;

        const QStringList problems = service.problems();
        if (c.problem.isEmpty()) {
            EXPECT_EQ(problems, QStringList()) << c.name;
        } else {
            EXPECT_TRUE(problems.join(u'\n').contains(c.problem))
                << c.name << ": " << problems.join(u'\n').toStdString();
        }
    }
}

} // namespace
