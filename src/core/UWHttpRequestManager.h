#pragma once

#include "core/UWNetBaseScene.h"
#include "platform/HttpClient.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>

class MMwebconfig;

namespace platform {
class Preferences;
}

// A second style of HTTP requests, used by nothing else in the application:
// requests described by scenes, two direct machine-translation calls with
// their own credentials, a reachability watch, and where the computer is on
// the network (the country of its public address, the country of a given
// address, its own IPv4 address). The two country lookups set the web-search
// engine setting: 0 (Baidu) for China, 1 otherwise.
//
// Every request goes over verified TLS (plain HTTP only to this machine, for
// local test doubles) and every value in an address is percent-encoded.
// Callbacks run on the main thread, except the blocking iFlytek call's,
// which run on its calling thread before it returns.
class UWHttpRequestManager : public QObject {
public:
    // What a failed scene request hands over.
    struct Error {
        QString domain;
        qint64 code = 0;
    };
    using SceneCallback = std::function<void(bool success, const QVariant& reply, const Error& error)>;

    enum class Reachability { Unknown, NotReachable, Reachable };

    // Where the direct requests go; each has an environment override. The
    // two country services are ours to choose: settings, not configured
    // (empty, nothing is asked) until set.
    struct Endpoints {
        QString baiduTranslate = QStringLiteral("https://fanyi-api.baidu.com"); // PRAVIK_BAIDU_TRANSLATE_URL
        QString xunfeiTranslate = QStringLiteral("https://ntrans.xfyun.cn"); // PRAVIK_OTS_URL
        QString publicAddressCountry; // PRAVIK_PUBLIC_GEO_URL, setting "PublicAddressCountryURL"
        QString addressCountry; // PRAVIK_ADDRESS_GEO_URL, setting "AddressCountryURL"
        static Endpoints configured(const platform::Preferences& defaults);
        static Endpoints configured(); // from the standard defaults
    };
    static const QString kPublicAddressCountryKey; // "PublicAddressCountryURL"
    static const QString kAddressCountryKey; // "AddressCountryURL"

    static const QString kBaiduAppId; // "31846027719054863"
    static const QString kBaiduSecret;
    static const QString kXunfeiAppId; // "a3d91e07"
    static const QString kXunfeiSecret;
    static const QString kXunfeiApiKey;
    static const QString kNoNetworkKey; // "请检查网络"
    static const QString kSystemErrorKey; // "系统错误"
    static const QString kNotFound; // "Not found"
    static const QString kNoTranslation;
    static constexpr int kXunfeiTimeoutSeconds = 10;
    static constexpr int kSessionTimeoutSeconds = 15;

    static UWHttpRequestManager& sharedUWHttpRequestManager();

    UWHttpRequestManager(platform::HttpClient& http, MMwebconfig& webConfig, Endpoints endpoints);

    // Reachability: the probe answers what the network looks like now
    // (tests set their own; by default the system's network information).
    void setReachabilityProbe(std::function<Reachability()> probe) { probe_ = std::move(probe); }
    bool validNetworkIsNotReable() const;
    // Starts watching reachability changes and tells the callback (reachable
    // or not; unknown is not told).
    void networkReachabilityManager();
    void networkStatusChangeCallBack(std::function<void(bool reachable)> callback);
    // A change of reachability as the watch sees it (also for tests).
    void reachabilityChanged(Reachability reachability);

    void httpRequestWithScene(const UWNetSceneInterface& scene, SceneCallback callback);

    // Baidu general translation: success gets the translation, failure a text.
    void httpBaiduTranslateRequestWithQ(const QString& q, const QString& from, const QString& to,
        std::function<void(const QString&)> success, std::function<void(const QString&)> failure);
    // MD5 (lower-case hex) of the "appid", "q", "salt" and "pwd" values joined.
    static QString generateSignWithBaiduDict(const QVariantMap& dict);
    // What a Baidu reply comes to: a translation or a failure text.
    struct BaiduOutcome {
        bool success = false;
        QString text;
    };
    static BaiduOutcome baiduReply(const QByteArray& body);
    // A salt between 500 and 1000.
    static QString baiduSalt();

    // iFlytek machine translation; returns once a block has run (at most
    // kXunfeiTimeoutSeconds). The text goes as given: the service wants it
    // Base64-encoded, which is the caller's to do. success gets the reply
    // object, failure a text.
    void httpXunfeiTranslateRequestWithQ(const QString& q, const QString& from, const QString& to,
        std::function<void(const QVariant&)> success, std::function<void(const QString&)> failure);

    void fetchCountryForPublicIPAddress();
    void fetchLocationForIPAddress(const QString& address);

    // The IPv4 address of the computer's primary interface (the one of the
    // default route, else the first that is up and not loopback), the last
    // one listed; kNotFound when none.
    struct InterfaceAddress {
        QString interfaceName;
        QHostAddress address;
    };
    static QString getIPAddress();
    static QString getIPAddress(const QString& interfaceName, const QList<InterfaceAddress>& addresses);

    // The scene's address and its parameters as a request.
    static platform::HttpRequest sceneRequest(const UWNetSceneInterface& scene, QString* refusalText);
    // The outcome of a scene reply's bytes; nullopt when no callback is due.
    struct SceneOutcome {
        bool success = false;
        QVariant reply;
        Error error;
    };
    static std::optional<SceneOutcome> sceneOutcome(const UWNetSceneInterface& scene, const platform::HttpResponse& response);

private:
    void setSearchEngineFromCountry(const QUrl& url, const QString& key, const QString& chinaValue);

    platform::HttpClient& http_;
    MMwebconfig& webConfig_;
    Endpoints endpoints_;
    std::function<Reachability()> probe_;
    std::function<void(bool)> networkStatusCallback_;
    bool watching_ = false;
};
