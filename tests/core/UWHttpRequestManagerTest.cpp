#include "core/UWHttpRequestManager.h"

#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMVoiceCmdItem.h"
#include "core/StringCoding.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeMachineTranslationService.h"
#include "fakes/ScopedEnv.h"
#include "platform/HttpClient.h"
#include "platform/Preferences.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <optional>

namespace request_manager_test {

using fakes::FakeHttpServer;
using Manager = UWHttpRequestManager;

class LocalScene final : public UWNetBaseScene {
public:
    QString url;
    QString method = QStringLiteral("GET");
    UWResultBackType type = UWResultBackType::ResultCode;
    QString requestURL() const override { return url; }
    QString httpMethod() const override { return method; }
    UWResultBackType resultBackType() const override { return type; }
};

struct SceneAnswer {
    bool success = false;
    QVariant reply;
    Manager::Error error;
};

class UWHttpRequestManagerTest : public ::testing::Test {
protected:
    UWHttpRequestManagerTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , manager_(platform::HttpClient::shared(), user_.webConfig(), endpoints())
    {
        manager_.setReachabilityProbe([this] { return reachability_; });
    }
    Manager::Endpoints endpoints() const
    {
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
        return { base, base, base, base };
    }
    std::optional<SceneAnswer> runScene(const UWNetSceneInterface& scene, int waitMs = 5000)
    {
        std::optional<SceneAnswer> answer;
        manager_.httpRequestWithScene(scene, [&](bool success, const QVariant& reply, const Manager::Error& error) {
            answer = SceneAnswer { success, reply, error };
        });
        FakeHttpServer::waitUntil([&] { return answer.has_value(); }, waitMs);
        return answer;
    }

    FakeHttpServer server_;
    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    Manager::Reachability reachability_ = Manager::Reachability::Reachable;
    Manager manager_;
};

TEST_F(UWHttpRequestManagerTest, SceneRepliesByResultCode)
{
    const struct {
        const char* name;
        FakeHttpServer::Reply reply;
        UWResultBackType type;
        bool called;
        bool success;
        QString domain;
        qint64 code;
    } cases[] = {
        { "rc 0", FakeHttpServer::Reply::json(R"({"rc":0,"data":{}})"), UWResultBackType::ResultCode, true, true, {}, 0 },
        { "rc 5", FakeHttpServer::Reply::json(R"({"rc":5,"msg":"bad"})"), UWResultBackType::ResultCode, true, false,
            QStringLiteral("bad"), 5 },
        { "no rc", FakeHttpServer::Reply::json(R"({"data":1})"), UWResultBackType::ResultCode, true, true, {}, 0 },
        { "rc without msg", FakeHttpServer::Reply::json(R"({"rc":7})"), UWResultBackType::ResultCode, true, false,
            QStringLiteral("result code 7"), 7 },
        { "always success", FakeHttpServer::Reply::json(R"({"rc":9})"), UWResultBackType::AlwaysSuccess, true, true, {}, 0 },
        { "base scene", FakeHttpServer::Reply::json(R"({"rc":0})"), UWResultBackType::NoCallback, false, false, {}, 0 },
        { "empty reply", FakeHttpServer::Reply::text(""), UWResultBackType::NoCallback, true, false,
            LGNLocalizedString::lgnAppLocalizedString(Manager::kSystemErrorKey), -2 },
        { "HTTP error", FakeHttpServer::Reply::json(R"({"rc":0})", 502), UWResultBackType::NoCallback, true, false,
            QStringLiteral("HTTP status 502"), 502 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.enqueue("GET", QStringLiteral("/scene"), c.reply);
        LocalScene scene;
        scene.url = server_.url(QStringLiteral("/scene")).toString();
        scene.type = c.type;
        const std::optional<SceneAnswer> answer = runScene(scene, c.called ? 5000 : 300);
        ASSERT_EQ(answer.has_value(), c.called);
        if (!answer)
            continue;
        EXPECT_EQ(answer->success, c.success);
        if (!c.success) {
            EXPECT_EQ(answer->error.domain, c.domain);
            EXPECT_EQ(answer->error.code, c.code);
        }
    }
}

TEST_F(UWHttpRequestManagerTest, SceneSendsItsParametersEncodedAndOnlyItsOwnHeaders)
{
    server_.on("GET", QStringLiteral("/ask"), FakeHttpServer::Reply::json(R"({"rc":0})"));
    LocalScene scene;
    scene.url = server_.url(QStringLiteral("/ask")).toString();
    scene.setMyParameters({ { QStringLiteral("q"), QStringLiteral("a b&c=d+e/中") }, { QStringLiteral("n"), 3 } });
    scene.setMyRequestHeader({ { QStringLiteral("X-Token"), QStringLiteral("t1") } });
    ASSERT_TRUE(runScene(scene).has_value());
    ASSERT_EQ(server_.requestCount(), 1);
    const FakeHttpServer::Request request = server_.requests()[0];
    const QUrlQuery query = request.query();
    EXPECT_EQ(query.queryItems().size(), 2);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded), QStringLiteral("a b&c=d+e/中"));
    EXPECT_FALSE(request.target.contains('+')); // a plus would read as a blank
    EXPECT_EQ(request.header("x-token"), "t1");
    EXPECT_FALSE(request.hasHeader("content-type"));
}

TEST_F(UWHttpRequestManagerTest, NoNetworkOrNoTlsMeansNoRequest)
{
    LocalScene scene;
    scene.url = server_.url(QStringLiteral("/x")).toString();
    reachability_ = Manager::Reachability::NotReachable;
    std::optional<SceneAnswer> answer = runScene(scene);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(answer->success);
    EXPECT_EQ(answer->error.domain, LGNLocalizedString::lgnAppLocalizedString(Manager::kNoNetworkKey));
    reachability_ = Manager::Reachability::Unknown; // unknown counts as reachable
    scene.url = QStringLiteral("http://ai.example.com/x");
    answer = runScene(scene);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(answer->success);
    EXPECT_EQ(server_.requestCount(), 0);
    // Not configured at all: refused too.
    UWNetBaseScene base;
    qunsetenv(UWNetBaseScene::kAddressVariable);
    answer = runScene(base);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(answer->success);
}

TEST_F(UWHttpRequestManagerTest, BaseSceneParametersAndReachabilityChanges)
{
    UWNetBaseScene scene;
    const QVariantMap parameters = scene.requestParameters();
    EXPECT_EQ(parameters.value(QStringLiteral("channelName")), QStringLiteral("UWKS"));
    EXPECT_EQ(parameters.value(QStringLiteral("clientversion")), MMUserInfo::myVersion());
    EXPECT_TRUE(parameters.contains(QStringLiteral("macAddr")));
    EXPECT_FALSE(parameters.value(QStringLiteral("macAddr")).toString().isNull());
    EXPECT_EQ(scene.requestHeader().value(QStringLiteral("Content-Type")), QStringLiteral("text/html;charset=utf-8"));
    EXPECT_EQ(scene.timeOutInterval(), 10);

    QList<bool> told;
    manager_.reachabilityChanged(Manager::Reachability::Reachable); // no callback yet
    manager_.networkStatusChangeCallBack([&](bool reachable) { told << reachable; });
    manager_.reachabilityChanged(Manager::Reachability::Reachable);
    manager_.reachabilityChanged(Manager::Reachability::Unknown);
    manager_.reachabilityChanged(Manager::Reachability::NotReachable);
    EXPECT_EQ(told, (QList<bool> { true, false }));

    MMVoiceCmdItem item { QStringLiteral("app"), QStringLiteral("open mail"), QStringLiteral("/usr/bin/mail") };
    EXPECT_EQ(item.cmdWord, QStringLiteral("open mail"));
}

TEST_F(UWHttpRequestManagerTest, BaiduTranslationIsSignedAndItsRepliesRead)
{
    const struct {
        const char* name;
        FakeHttpServer::Reply reply;
        std::optional<QString> success;
        std::optional<QString> failure;
    } cases[] = {
        { "one result", FakeHttpServer::Reply::json(R"({"trans_result":[{"src":"x","dst":"hello"}]})"),
            QStringLiteral("hello"), std::nullopt },
        { "two results", FakeHttpServer::Reply::json(R"({"trans_result":[{"dst":"A"},{"dst":"B"}]})"),
            QStringLiteral("\nA\nB"), std::nullopt },
        { "no results", FakeHttpServer::Reply::json(R"({"trans_result":[]})"), QStringLiteral(""), std::nullopt },
        { "a result without dst", FakeHttpServer::Reply::json(R"({"trans_result":[{"src":"x"}]})"), QStringLiteral(""),
            std::nullopt },
        { "service error", FakeHttpServer::Reply::json(R"({"error_code":"54001","error_msg":"Invalid Sign"})"),
            std::nullopt, QStringLiteral("Error: 54001") },
        { "empty object", FakeHttpServer::Reply::json("{}"), std::nullopt, Manager::kNoTranslation },
    };
    const QString text = QStringLiteral("你好 & goodbye=1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.clearRequests();
        server_.enqueue("POST", QStringLiteral("/api/trans/vip/translate"), c.reply);
        std::optional<QString> success, failure;
        manager_.httpBaiduTranslateRequestWithQ(
            text, QStringLiteral("zh"), QStringLiteral("en"), [&](const QString& t) { success = t; },
            [&](const QString& e) { failure = e; });
        ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return success || failure; }));
        EXPECT_EQ(success, c.success);
        EXPECT_EQ(failure, c.failure);

        ASSERT_EQ(server_.requestCount(), 1);
        const FakeHttpServer::Request request = server_.requests()[0];
        EXPECT_EQ(request.header("content-type"), "application/x-www-form-urlencoded");
        QUrlQuery form(QString::fromLatin1(request.body));
        const auto field = [&](const char* name) { return form.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded); };
        EXPECT_EQ(field("q"), text);
        EXPECT_EQ(field("from"), QStringLiteral("zh"));
        EXPECT_EQ(field("to"), QStringLiteral("en"));
        EXPECT_EQ(field("appid"), Manager::kBaiduAppId);
        const int salt = field("salt").toInt();
        EXPECT_GE(salt, 500);
        EXPECT_LE(salt, 1000);
        const QByteArray expected = QCryptographicHash::hash(
            (Manager::kBaiduAppId + text + field("salt") + Manager::kBaiduSecret).toUtf8(), QCryptographicHash::Md5)
                                        .toHex();
        EXPECT_EQ(field("sign").toLatin1(), expected);
    }
}

TEST(UWHttpRequestManagerBaiduSaltTest, StaysBetween500And1000)
{
    for (int i = 0; i < 2000; ++i) {
        const int salt = Manager::baiduSalt().toInt();
        ASSERT_GE(salt, 500);
        ASSERT_LE(salt, 1000);
    }
}

TEST_F(UWHttpRequestManagerTest, XunfeiTranslationIsSignedAsTheServiceChecksAndBlocksUntilItsAnswer)
{
    fakes::FakeMachineTranslationService service({ Manager::kXunfeiAppId, Manager::kXunfeiApiKey, Manager::kXunfeiSecret });
    Manager manager(platform::HttpClient::shared(), user_.webConfig(),
        { endpoints().baiduTranslate, service.baseUrl(), endpoints().publicAddressCountry, endpoints().addressCountry });
    service.reply(fakes::FakeMachineTranslationService::translation(QStringLiteral("Good morning")));
    service.reply(FakeHttpServer::Reply::text("<html>busy</html>", 503));
    std::optional<QVariant> success;
    std::optional<QString> failure;
    // The service takes the text Base64-encoded; the caller encodes it and the
    // request carries it as given, not encoded a second time.
    auto encoded = [](const QString& text) { return QString::fromLatin1(text.toUtf8().toBase64()); };
    manager.httpXunfeiTranslateRequestWithQ(encoded(QStringLiteral("早上好")), QStringLiteral("cn"), QStringLiteral("en"),
        [&](const QVariant& reply) { success = reply; }, [&](const QString& e) { failure = e; });
    ASSERT_TRUE(success.has_value()); // the call has returned: the answer is already here
    EXPECT_EQ(QJsonDocument::fromVariant(*success).object().value("data").toObject().value("result").toObject()
                  .value("trans_result").toObject().value("dst").toString(),
        QStringLiteral("Good morning"));
    manager.httpXunfeiTranslateRequestWithQ(encoded(QStringLiteral("再见")), QStringLiteral("cn"), QStringLiteral("en"),
        [&](const QVariant& reply) { success = reply; }, [&](const QString& e) { failure = e; });
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(service.problems().isEmpty()) << service.problems().join('\n').toStdString();
    ASSERT_EQ(service.received().size(), 2);
    EXPECT_EQ(service.received()[0].text, QStringLiteral("早上好"));
}

TEST_F(UWHttpRequestManagerTest, CountryLookupsSetTheSearchEngine)
{
    const struct {
        const char* name;
        bool publicAddress;
        QByteArray body;
        int status;
        quint64 before;
        quint64 after;
    } cases[] = {
        { "China", true, R"({"country_name":"China"})", 200, 1, 0 },
        { "elsewhere", true, R"({"country_name":"Germany"})", 200, 0, 1 },
        { "empty name", true, R"({"country_name":""})", 200, 1, 1 },
        { "no name", true, R"({"ip":"1.2.3.4"})", 200, 0, 0 },
        { "broken", true, R"({"country_name":)", 200, 1, 1 },
        { "HTTP error", true, R"({"country_name":"China"})", 429, 1, 1 },
        { "CN", false, R"({"country":"CN"})", 200, 1, 0 },
        { "cn in lower case", false, R"({"country":"cn"})", 200, 0, 1 },
        { "no country", false, R"({"city":"X"})", 200, 1, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server_.clearRequests();
        user_.webConfig().setSec_searchEngine(c.before);
        const QString path = c.publicAddress ? QStringLiteral("/json/") : QStringLiteral("/8.8.8.8/json");
        server_.enqueue("GET", path, FakeHttpServer::Reply::json(c.body, c.status));
        if (c.publicAddress)
            manager_.fetchCountryForPublicIPAddress();
        else
            manager_.fetchLocationForIPAddress(QStringLiteral("8.8.8.8"));
        ASSERT_TRUE(server_.waitForRequests(1));
        FakeHttpServer::waitUntil([&] { return user_.webConfig().sec_searchEngine() != c.before; }, 300);
        EXPECT_EQ(user_.webConfig().sec_searchEngine(), c.after);
    }
    // An address is one encoded path segment, whatever it holds.
    server_.clearRequests();
    manager_.fetchLocationForIPAddress(QStringLiteral("1.2.3.4/../admin?x=1#y"));
    ASSERT_TRUE(server_.waitForRequests(1));
    EXPECT_EQ(server_.requests()[0].target, "/1.2.3.4%2F..%2Fadmin%3Fx%3D1%23y/json");
}

// The country services are ours to choose: the environment wins over the
// setting, and with neither nothing is asked and the setting stays.
TEST_F(UWHttpRequestManagerTest, CountryServicesAreSettingsAndNotConfiguredUntilSet)
{
    const struct {
        const char* name;
        const char* setting;
        const char* environment;
        QString expected;
    } cases[] = {
        { "neither", nullptr, nullptr, QString() },
        { "setting", "https://geo.example.org", nullptr, QStringLiteral("https://geo.example.org") },
        { "environment wins", "https://geo.example.org", "https://env.example.org", QStringLiteral("https://env.example.org") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        platform::Preferences defaults(dir.filePath(QStringLiteral("defaults.plist")));
        if (c.setting) {
            defaults.setValue(Manager::kPublicAddressCountryKey, QString::fromLatin1(c.setting));
            defaults.setValue(Manager::kAddressCountryKey, QString::fromLatin1(c.setting));
        }
        fakes::ScopedEnv publicVariable("PRAVIK_PUBLIC_GEO_URL", c.environment ? QString::fromLatin1(c.environment) : QString());
        fakes::ScopedEnv addressVariable("PRAVIK_ADDRESS_GEO_URL", c.environment ? QString::fromLatin1(c.environment) : QString());
        const Manager::Endpoints endpoints = Manager::Endpoints::configured(defaults);
        EXPECT_EQ(endpoints.publicAddressCountry, c.expected);
        EXPECT_EQ(endpoints.addressCountry, c.expected);
    }

    Manager::Endpoints none = endpoints();
    none.publicAddressCountry.clear();
    none.addressCountry.clear();
    Manager manager(platform::HttpClient::shared(), user_.webConfig(), none);
    server_.enqueue("GET", QStringLiteral("/json/"), FakeHttpServer::Reply::json(R"({"country_name":"China"})"));
    user_.webConfig().setSec_searchEngine(1);
    manager.fetchCountryForPublicIPAddress();
    manager.fetchLocationForIPAddress(QStringLiteral("8.8.8.8"));
    EXPECT_FALSE(server_.waitForRequests(1, 300)) << "nothing is asked of a service not configured";
    EXPECT_EQ(user_.webConfig().sec_searchEngine(), 1u);
}

TEST(UWHttpRequestManagerAddressTest, TheLastIPv4AddressOfTheInterfaceAsked)
{
    using Entry = Manager::InterfaceAddress;
    const struct {
        const char* name;
        const char* interfaceName;
        QList<Entry> entries;
        const char* address;
    } cases[] = {
        { "one", "eth0", { { "eth0", QHostAddress("10.0.0.2") } }, "10.0.0.2" },
        { "last wins", "eth0", { { "eth0", QHostAddress("10.0.0.2") }, { "eth0", QHostAddress("192.168.1.9") } },
            "192.168.1.9" },
        { "IPv6 only", "eth0", { { "eth0", QHostAddress("fe80::1") } }, "Not found" },
        { "other interfaces", "wlan0", { { "eth0", QHostAddress("10.0.0.2") }, { "lo", QHostAddress("127.0.0.1") } },
            "Not found" },
        { "no primary interface", "", { { "", QHostAddress("10.0.0.2") } }, "Not found" },
        { "none", "eth0", {}, "Not found" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Manager::getIPAddress(QString::fromLatin1(c.interfaceName), c.entries), QString::fromLatin1(c.address))
            << c.name;
}

// The computer's own address and link address are those of the interface
// the kernel sends through to reach another network (asked of the kernel
// with a UDP socket connected to a documentation address: nothing is sent);
// without a route, those of the first interface that is up.
TEST(UWHttpRequestManagerAddressTest, TheComputersAddressIsThatOfItsRouteToOtherNetworks)
{
    QUdpSocket probe;
    probe.connectToHost(QHostAddress(QStringLiteral("198.51.100.1")), 9);
    const bool routed = probe.waitForConnected(2000);
    QNetworkInterface expected;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (routed) {
            for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
                if (entry.ip() == probe.localAddress())
                    expected = interface;
            }
        } else if (!expected.isValid() && flags.testFlag(QNetworkInterface::IsUp)
            && !flags.testFlag(QNetworkInterface::IsLoopBack)) {
            expected = interface;
        }
    }
    if (!expected.isValid()) {
        EXPECT_EQ(Manager::getIPAddress(), Manager::kNotFound) << "only loopback here";
        return;
    }
    QString address = Manager::kNotFound;
    for (const QNetworkAddressEntry& entry : expected.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
            address = entry.ip().toString();
    }
    EXPECT_EQ(Manager::getIPAddress(), address) << "interface " << expected.name().toStdString();
    if (routed) {
        EXPECT_EQ(Manager::getIPAddress(), probe.localAddress().toString());
    }
    if (!expected.hardwareAddress().isEmpty()) {
        EXPECT_EQ(StringCoding::uw_getMacAddress(), expected.hardwareAddress().toUpper());
        UWNetBaseScene scene;
        EXPECT_EQ(scene.requestParameters().value(QStringLiteral("macAddr")).toString(),
            expected.hardwareAddress().toUpper());
    }
}

} // namespace request_manager_test
