#include "core/HLBaseResponse.h"
#include "core/HLHttpManager.h"
#include "core/SHHttpManager.h"
#include "fakes/FakeHttpServer.h"
#include "platform/MainQueue.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <thread>

using fakes::FakeHttpServer;
using Kind = HttpFailure::Kind;
using Reply = FakeHttpServer::Reply;

namespace {

// Short enough for the timeout cases, long enough for a local reply.
constexpr double kShortTimeout = 0.5;

// What the handlers of one request received.
struct HttpOutcome {
    int successes = 0;
    int failures = 0;
    bool onMainThread = true;
    QVariant value;
    HttpFailure failure;

    SHHttpManager::Success success()
    {
        return [this](const QVariant& v) {
            ++successes;
            onMainThread = onMainThread && platform::MainQueue::isMainThread();
            value = v;
        };
    }
    SHHttpManager::Failure fail()
    {
        return [this](const HttpFailure& f) {
            ++failures;
            onMainThread = onMainThread && platform::MainQueue::isMainThread();
            failure = f;
        };
    }
    int calls() const { return successes + failures; }
    // Waits for the first call, then a moment more for a wrong second one.
    void wait()
    {
        EXPECT_TRUE(FakeHttpServer::waitUntil([this] { return calls() > 0; }, 10000));
        FakeHttpServer::waitUntil([] { return false; }, 30);
        EXPECT_EQ(calls(), 1);
        EXPECT_TRUE(onMainThread);
    }
};

QVariant json(const char* text)
{
    return QJsonDocument::fromJson(text).toVariant();
}

class HttpManagersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HLHttpManager::restoreInitialConfiguration();
        manager.setRequestTimeout(kShortTimeout);
        manager.setBlockingTimeout(kShortTimeout);
    }
    void TearDown() override { HLHttpManager::restoreInitialConfiguration(); }

    QString url(const QString& path) const { return server.url(path).toString(QUrl::FullyEncoded); }

    FakeHttpServer server;
    SHHttpManager manager { platform::HttpClient::shared() };
};

// ---- how replies are sorted ----

struct ReplyCase {
    const char* name;
    Reply reply;
    // nullopt: success with the reply's JSON; else failure of this kind.
    std::optional<Kind> readerOutcome; // both wrappers, before any "code" check
    std::optional<Kind> bodyPostOutcome;
};

std::vector<ReplyCase> replyCases()
{
    return {
        { "code 0", Reply::json(R"({"code":0,"data":{"dst":"hi"}})"), {}, {} },
        { "code as text 1", Reply::json(R"({"code":"1","message":"bad"})"), {}, Kind::ServiceCode },
        { "code as text 0", Reply::json(R"({"code":"0"})"), {}, {} },
        { "code 10013", Reply::json(R"({"code":10013})"), {}, Kind::ServiceCode },
        { "code null", Reply::json(R"({"code":null})"), {}, {} },
        { "no code", Reply::json(R"({"data":"x"})"), {}, {} },
        { "array", Reply::json(R"([1,2])"), {}, {} },
        { "not JSON", Reply::text("<html>busy</html>", 200, "text/html"), Kind::NotJson, Kind::NotJson },
        { "empty body", Reply::text("", 200, "application/json"), Kind::NotJson, Kind::NotJson },
        { "JSON of another content type", Reply::text(R"({"code":0})", 200, "application/octet-stream"), {},
            Kind::ContentType },
        { "HTTP 500 with JSON", Reply::json(R"({"code":0})", 500), Kind::HttpStatus, Kind::HttpStatus },
        { "connection dropped", Reply::closeConnection(), Kind::Transport, Kind::Transport },
        { "no answer", Reply::neverAnswer(), Kind::Timeout, Kind::Timeout },
    };
}

void expectOutcome(const HttpOutcome& outcome, const ReplyCase& c, const std::optional<Kind>& expected)
{
    if (!expected) {
        EXPECT_EQ(outcome.successes, 1) << outcome.failure.message.toStdString();
        EXPECT_EQ(outcome.value, QJsonDocument::fromJson(c.reply.body).toVariant());
        EXPECT_TRUE(outcome.value.isValid());
        return;
    }
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failure.kind, *expected) << outcome.failure.message.toStdString();
    if (*expected == Kind::HttpStatus) {
        EXPECT_EQ(outcome.failure.status, 500);
        EXPECT_EQ(outcome.failure.reply, json(R"({"code":0})"));
    }
    if (*expected == Kind::ServiceCode) {
        EXPECT_EQ(outcome.failure.reply, QJsonDocument::fromJson(c.reply.body).toVariant());
    }
}

TEST_F(HttpManagersTest, RepliesAreSortedIntoSuccessAndFailure)
{
    HLHttpManager::setSerializerTimeout(kShortTimeout);
    for (const ReplyCase& c : replyCases()) {
        SCOPED_TRACE(c.name);
        server.on("*", "/r", c.reply);

        HttpOutcome get;
        manager.httpGetApiKeyWithURL(url("/r"), get.success(), get.fail());
        get.wait();
        expectOutcome(get, c, c.readerOutcome == Kind::ContentType ? std::nullopt : c.readerOutcome);

        HttpOutcome blocking;
        manager.httpXfeiGetTokenWithURL(
            url("/r"), QVariantMap { { "a", 1 } }, blocking.success(), blocking.fail());
        EXPECT_EQ(blocking.calls(), 1) << "on the main thread the handler has run on return";
        expectOutcome(blocking, c, c.readerOutcome);

        HttpOutcome body;
        EXPECT_NE(HLHttpManager::POSTBODY(url("/r"), "{}", {}, body.success(), body.fail()), nullptr);
        body.wait();
        expectOutcome(body, c, c.bodyPostOutcome);
    }
}

TEST_F(HttpManagersTest, BlockingPostIsBoundedByItsTimeout)
{
    EXPECT_EQ(SHHttpManager::kBlockingTimeoutSeconds, 10);
    server.on("POST", "/ocr", Reply::neverAnswer());
    HttpOutcome outcome;
    QElapsedTimer elapsed;
    elapsed.start();
    manager.httpXfeiGetTokenWithURL(
        url("/ocr"), QVariantMap { { "a", 1 } }, outcome.success(), outcome.fail());
    EXPECT_GE(elapsed.elapsed(), 450);
    EXPECT_LT(elapsed.elapsed(), 3000);
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failure.kind, Kind::Timeout);
}

TEST_F(HttpManagersTest, BlockingPostFromAWorkerThreadHandsTheResultToTheMainThread)
{
    server.on("POST", "/ocr", Reply::json(R"({"header":{"code":0}})"));
    HttpOutcome outcome;
    std::thread worker([&] {
        manager.httpXfeiGetTokenWithURL(url("/ocr"), QVariantList { 1 }, outcome.success(), outcome.fail());
    });
    worker.join(); // the main thread never turns its loop meanwhile
    EXPECT_EQ(server.requestCount(), 1);
    outcome.wait();
    EXPECT_EQ(outcome.value, json(R"({"header":{"code":0}})"));
}

// ---- the exact requests ----

TEST_F(HttpManagersTest, EachRequestGoesOutAsDescribed)
{
    struct Case {
        const char* name;
        std::function<void(HttpOutcome&)> send;
        QByteArray method;
        QString path;
        QByteArray contentType; // empty: no content-type field at all
        QByteArray body;
    };
    const QVariantMap form { { "b", "2 3" }, { "a", "x/y&z" } };
    const Case cases[] = {
        { "api key",
            [&](HttpOutcome& o) {
                manager.httpGetApiKeyWithURL(url("/key?serialstring=A1"), o.success(), o.fail());
            },
            "GET", "/key", "application/json", "" },
        { "product info",
            [&](HttpOutcome& o) {
                manager.httpGetProductInfoWithURL(url("/key?serialstring=A1"), o.success(), o.fail());
            },
            "GET", "/key", "application/json", "" },
        { "open key",
            [&](HttpOutcome& o) { manager.httpGetOpenkey(url("/open?pm_id=2"), o.success(), o.fail()); }, "GET",
            "/open", "", "" },
        { "new version",
            [&](HttpOutcome& o) { manager.httpRequestNewVersion(url("/update"), o.success(), o.fail()); }, "POST",
            "/update", "application/json", "" },
        { "form token",
            [&](HttpOutcome& o) {
                manager.httpXunfeiGetTokenWithURL(url("/token"), form, o.success(), o.fail());
            },
            "POST", "/token", "application/json", "a=x/y%26z&b=2%203" },
        { "form token twin",
            [&](HttpOutcome& o) {
                manager.AAAAAhttpXunfeiGetTokenWithURL(url("/token"), form, o.success(), o.fail());
            },
            "POST", "/token", "application/json", "a=x/y%26z&b=2%203" },
    };
    server.setFallback(Reply::json(R"({"errCode":0})"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.clearRequests();
        HttpOutcome outcome;
        c.send(outcome);
        outcome.wait();
        EXPECT_EQ(outcome.successes, 1);
        ASSERT_EQ(server.requestCount(), 1);
        const auto request = server.requests()[0];
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.path(), c.path);
        EXPECT_EQ(request.body, c.body);
        if (c.contentType.isEmpty()) {
            EXPECT_FALSE(request.hasHeader("content-type"));
        } else {
            EXPECT_EQ(request.headerCount("content-type"), 1);
            EXPECT_EQ(request.header("content-type"), c.contentType);
        }
        EXPECT_TRUE(request.hasHeader("Accept-Language"));
        EXPECT_TRUE(request.hasHeader("User-Agent"));
    }
}

TEST_F(HttpManagersTest, BlockingPostSendsPrettyJsonWithOneHeaderField)
{
    server.on("POST", "/ocr", Reply::json(R"({"ok":1})"));
    const QVariantMap param { { "header", QVariantMap { { "app_id", "id" } } }, { "payload", "data" } };
    HttpOutcome outcome;
    manager.httpXfeiGetTokenWithURL(
        url("/ocr?host=h&date=Tue,%2001%20Jan&authorization=YQ=="), param, outcome.success(), outcome.fail());
    ASSERT_EQ(outcome.successes, 1) << outcome.failure.message.toStdString();
    const auto request = server.requests().value(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/ocr?host=h&date=Tue,%2001%20Jan&authorization=YQ==");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.headerCount("content-type"), 1);
    for (const auto& [name, value] : HLHttpManager::defaultHeaderFields()) // none of the session defaults
        EXPECT_NE(request.header(name), value) << name.constData();
    EXPECT_TRUE(request.body.contains('\n'));
    EXPECT_EQ(QJsonDocument::fromJson(request.body).toVariant(), QVariant(param));
}

TEST_F(HttpManagersTest, RequestsThatCannotBeMadeFailWithoutTraffic)
{
    HttpOutcome badUrl, badParam, badForm;
    manager.httpGetOpenkey("not a url", badUrl.success(), badUrl.fail());
    manager.httpXfeiGetTokenWithURL(url("/ocr"), QString("text"), badParam.success(), badParam.fail());
    manager.httpXunfeiGetTokenWithURL(url("/t"), QVariantList { 1 }, badForm.success(), badForm.fail());
    for (HttpOutcome* o : { &badUrl, &badParam, &badForm }) {
        o->wait();
        EXPECT_EQ(o->failures, 1);
        EXPECT_EQ(o->failure.kind, Kind::InvalidRequest);
    }
    HttpOutcome post;
    EXPECT_EQ(HLHttpManager::POSTBODY("ftp://x/", "{}", {}, post.success(), post.fail()), nullptr);
    EXPECT_EQ(post.calls(), 0) << "failure comes later, on the main thread";
    post.wait();
    EXPECT_EQ(post.failure.kind, Kind::InvalidRequest);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(HttpManagersTest, BaiduRequestsUseTheConfiguredEndpoints)
{
    SHHttpManager::BaiduConfiguration baidu;
    baidu.oauthBaseUrl = url("/auth/");
    baidu.ocrBaseUrl = url("");
    baidu.clientId = "test-id";
    baidu.clientSecret = "test-secret";
    manager.setBaiduConfiguration(baidu);
    server.setFallback(Reply::json(R"({"access_token":"t"})"));

    HttpOutcome token;
    manager.httpBaiduGetTokenSuccess(token.success(), token.fail());
    token.wait();
    EXPECT_EQ(token.value.toMap().value("access_token"), "t");
    auto request = server.requests().value(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path(), "/auth/oauth/2.0/token");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.body, "client_id=test-id&client_secret=test-secret&grant_type=client_credentials");

    server.clearRequests();
    HttpOutcome ocr;
    manager.httpBaiduOCRWithFrom("CHN_ENG", "ENG", "tok", "aW1n+/=", ocr.success(), ocr.fail());
    ocr.wait();
    request = server.requests().value(0);
    EXPECT_EQ(request.path(), "/rest/2.0/ocr/v1/accurate_basic");
    const QByteArray contentType = request.header("Content-Type");
    ASSERT_TRUE(contentType.startsWith("multipart/form-data; boundary="));
    const QByteArray boundary = contentType.mid(contentType.indexOf('=') + 1);
    for (const auto& [name, value] : QList<QPair<QByteArray, QByteArray>> {
             { "access_token", "tok" }, { "image", "aW1n+/=" }, { "language_type", "CHN_ENG" } }) {
        EXPECT_TRUE(request.body.contains(
            "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n"))
            << name.constData();
    }
    EXPECT_EQ(request.body.count("Content-Disposition"), 3); // the target language is not sent
    EXPECT_TRUE(request.body.endsWith("--" + boundary + "--\r\n"));

    server.clearRequests();
    HttpOutcome translate;
    manager.httpBaiduTranslateRequestWithQ("text", "en", "zh", translate.success(), translate.fail());
    ASSERT_TRUE(server.waitForRequests(1));
    FakeHttpServer::waitUntil([] { return false; }, 100);
    EXPECT_EQ(translate.calls(), 0);
    request = server.requests().value(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path(), "/auth/oauth/2.0/token");
    EXPECT_TRUE(request.body.isEmpty());
}

// ---- the shared JSON session ----

TEST_F(HttpManagersTest, BodyPostSendsTheHeaderMapOverTheDefaults)
{
    server.on("POST", "/v2/ots", Reply::json(R"({"code":0})"));
    const QByteArray body("{\"common\":{\"app_id\":\"a\"}}\n\x01", 27);
    const QMap<QString, QString> header {
        { "Authorization", "api_key=\"k\", algorithm=\"hmac-sha256\"" },
        { "Date", "Tue, 01 Jan 2030 00:00:00 GMT" },
        { "Digest", "SHA-256=abc=" },
        { "Host", "ots.example.test" },
        { "Content-Type", "application/json" },
        { "user-agent", "custom/1" },
    };
    HttpOutcome outcome;
    HLHttpManager::POSTBODY(url("/v2/ots"), body, header, outcome.success(), outcome.fail());
    outcome.wait();
    const auto request = server.requests().value(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, body);
    for (auto it = header.begin(); it != header.end(); ++it) {
        EXPECT_EQ(request.headerCount(it.key().toUtf8()), 1) << it.key().toStdString();
        EXPECT_EQ(request.header(it.key().toUtf8()), it.value().toUtf8()) << it.key().toStdString();
    }
    EXPECT_TRUE(request.hasHeader("Accept-Language"));

    // No header map: the defaults alone.
    server.clearRequests();
    HttpOutcome bare;
    HLHttpManager::POSTBODY(url("/v2/ots"), "{}", {}, bare.success(), bare.fail());
    bare.wait();
    const auto bareRequest = server.requests().value(0);
    EXPECT_TRUE(bareRequest.hasHeader("Accept-Language"));
    EXPECT_TRUE(bareRequest.header("User-Agent").contains('/'));
    EXPECT_FALSE(bareRequest.hasHeader("Authorization"));
    EXPECT_FALSE(bareRequest.hasHeader("Digest"));
}

TEST_F(HttpManagersTest, BodyPostReplacesTheSessionTimeout)
{
    EXPECT_EQ(HLHttpManager::requestTimeoutInterval(), HLHttpManager::kInitialTimeoutSeconds);
    server.on("POST", "/v2/ots", Reply::json(R"({"code":0})"));
    HttpOutcome outcome;
    HLHttpManager::POSTBODY(url("/v2/ots"), "{}", {}, outcome.success(), outcome.fail());
    outcome.wait();
    EXPECT_EQ(HLHttpManager::requestTimeoutInterval(), HLHttpManager::kSerializerTimeoutSeconds);
}

TEST_F(HttpManagersTest, RunningRequestsAreListedUntilTheyEnd)
{
    server.on("POST", "/v2/ots", Reply::json(R"({"code":0})").after(200));
    HttpOutcome outcome;
    const auto task = HLHttpManager::POSTBODY(url("/v2/ots"), "{}", {}, outcome.success(), outcome.fail());
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->method, "POST");
    EXPECT_EQ(task->url, server.url("/v2/ots"));
    EXPECT_TRUE(HLHttpManager::allSessionTask().contains(task));
    outcome.wait();
    EXPECT_FALSE(HLHttpManager::allSessionTask().contains(task));
}

TEST_F(HttpManagersTest, SessionParametersFollowTheRequestSerializer)
{
    server.setFallback(Reply::json(R"({"ok":true})"));
    const QVariantMap parameters {
        { "b", QVariantList { 1, 2 } },
        { "a", QVariantMap { { "x", "y z" } } },
        { "n", QVariant::fromValue(nullptr) },
    };
    struct Case {
        const char* name;
        uint serializer;
        QByteArray method;
        QByteArray target;
        QByteArray contentType;
        QByteArray body;
    };
    const QByteArray query = "a%5Bx%5D=y%20z&b%5B%5D=1&b%5B%5D=2&n";
    const Case cases[] = {
        { "JSON GET", HLHttpManager::kJsonSerializer, "GET", "/s?k=v&" + query, "", "" },
        { "JSON POST", HLHttpManager::kJsonSerializer, "POST", "/s?k=v", "application/json",
            QJsonDocument::fromVariant(parameters).toJson(QJsonDocument::Compact) },
        { "form GET", HLHttpManager::kPlainSerializer, "GET", "/s?k=v&" + query, "", "" },
        { "form POST", HLHttpManager::kPlainSerializer, "POST", "/s?k=v", "application/x-www-form-urlencoded",
            query },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HLHttpManager::setRequestSerializer(c.serializer);
        server.clearRequests();
        HttpOutcome outcome;
        if (c.method == "GET")
            HLHttpManager::GET(url("/s?k=v"), parameters, outcome.success(), outcome.fail());
        else
            HLHttpManager::POST(url("/s?k=v"), parameters, outcome.success(), outcome.fail());
        outcome.wait();
        EXPECT_EQ(outcome.value, json(R"({"ok":true})"));
        const auto request = server.requests().value(0);
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.target, c.target);
        EXPECT_EQ(request.header("Content-Type"), c.contentType);
        EXPECT_EQ(request.body, c.body);
    }
}

TEST_F(HttpManagersTest, RawReaderHandsOverTheBytes)
{
    HLHttpManager::setResponseSerializer(HLHttpManager::kPlainSerializer);
    server.on("GET", "/raw", Reply::text("not json", 200, "application/octet-stream"));
    server.on("GET", "/missing", Reply::text("gone", 404));
    HttpOutcome raw, missing;
    HLHttpManager::GET(url("/raw"), {}, raw.success(), raw.fail());
    HLHttpManager::GET(url("/missing"), {}, missing.success(), missing.fail());
    raw.wait();
    missing.wait();
    EXPECT_EQ(raw.value, QVariant(QByteArray("not json")));
    EXPECT_EQ(missing.failure.kind, Kind::HttpStatus);
    EXPECT_EQ(missing.failure.body, "gone");
}

TEST_F(HttpManagersTest, SessionTimeoutAppliesToItsRequests)
{
    HLHttpManager::setRequestTimeoutInterval(kShortTimeout);
    EXPECT_FALSE(HLHttpManager::setRequestSerializerWithKey("allowsCellularAccess", true));
    EXPECT_TRUE(HLHttpManager::setRequestSerializerWithKey("timeoutInterval", kShortTimeout));
    server.on("GET", "/slow", Reply::neverAnswer());
    HttpOutcome outcome;
    HLHttpManager::GET(url("/slow"), {}, outcome.success(), outcome.fail());
    outcome.wait();
    EXPECT_EQ(outcome.failure.kind, Kind::Timeout);
}

TEST_F(HttpManagersTest, UploadSendsFieldsAndFileParts)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("notes.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("line one\n");
    file.close();
    server.on("POST", "/up", Reply::json(R"({"stored":1})"));

    HttpOutcome outcome;
    qint64 lastSent = 0, lastTotal = 0;
    const auto task = HLHttpManager::uploadFileWithURL(
        url("/up"), QVariantMap { { "kind", "log" } }, { path },
        [&](qint64 sent, qint64 total) {
            lastSent = sent;
            lastTotal = total;
        },
        outcome.success(), outcome.fail());
    ASSERT_NE(task, nullptr);
    outcome.wait();
    EXPECT_EQ(outcome.value, json(R"({"stored":1})"));
    const auto request = server.requests().value(0);
    const QByteArray boundary = request.header("Content-Type").split('=').value(1);
    ASSERT_FALSE(boundary.isEmpty());
    EXPECT_EQ(request.body,
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"kind\"\r\n\r\nlog\r\n" + "--" + boundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"notes.txt\"\r\n"
              "Content-Type: text/plain\r\n\r\nline one\n\r\n--"
            + boundary + "--\r\n");
    EXPECT_EQ(lastTotal, request.body.size());
    EXPECT_EQ(lastSent, lastTotal);

    HttpOutcome unreadable;
    EXPECT_EQ(HLHttpManager::uploadFileWithURL(
                  url("/up"), {}, { dir.filePath("absent") }, {}, unreadable.success(), unreadable.fail()),
        nullptr);
    unreadable.wait();
    EXPECT_EQ(unreadable.failure.kind, Kind::InvalidRequest);
    EXPECT_EQ(server.requestCount(), 1);
}

// ---- reading reply values ----

TEST(HLBaseResponseTest, IntegerValueReadsCodesLikeTheServicesMeanThem)
{
    const double huge = 1e300;
    const struct {
        QVariant value;
        qint64 expected;
    } cases[] = {
        { json(R"({"v":0})").toMap()["v"], 0 },
        { json(R"({"v":10013})").toMap()["v"], 10013 },
        { json(R"({"v":-2.9})").toMap()["v"], -2 },
        { json(R"({"v":true})").toMap()["v"], 1 },
        { json(R"({"v":null})").toMap()["v"], 0 },
        { json(R"({"v":[1]})").toMap()["v"], 0 },
        { QString("1"), 1 },
        { QString("  -42abc"), -42 },
        { QString("+7"), 7 },
        { QString("abc"), 0 },
        { QString(""), 0 },
        { QString("99999999999999999999"), std::numeric_limits<qint64>::max() },
        { QString("-99999999999999999999"), std::numeric_limits<qint64>::min() },
        { QString("-9223372036854775808"), std::numeric_limits<qint64>::min() },
        { huge, std::numeric_limits<qint64>::max() },
        { -huge, std::numeric_limits<qint64>::min() },
        { std::nan(""), 0 },
        { QVariant::fromValue(std::numeric_limits<quint64>::max()), std::numeric_limits<qint64>::max() },
        { QVariant(), 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(HLBaseResponse::integerValue(c.value), c.expected) << c.value.toString().toStdString();
}

TEST(HLBaseResponseTest, EnvelopeReadsFieldsAsText)
{
    const auto response
        = HLBaseResponse::fromJson(json(R"({"code":0,"desc":"ok","data":{"x":[1]},"sid":"s1"})"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->code(), "0");
    EXPECT_EQ(response->desc(), "ok");
    EXPECT_EQ(response->data(), json(R"({"x":[1]})"));
    EXPECT_EQ(response->sid(), "s1");
    EXPECT_EQ(HLBaseResponse::fromJson(json(R"({"code":1.5})"))->code(), "1.5");
    EXPECT_FALSE(HLBaseResponse::fromJson(json("[1]")));
    EXPECT_FALSE(HLBaseResponse::parseJson("1"));
    EXPECT_FALSE(HLBaseResponse::parseJson(""));
    EXPECT_FALSE(HLBaseResponse::parseJson("{\"a\":\"\xff\"}"));
}

} // namespace
