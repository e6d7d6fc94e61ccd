#include "core/UWHttpRequestManager.h"

#include "core/HLParamTools.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "core/SecureEndpoint.h"
#include "core/StringCoding.h"
#include "core/XunfeiSignature.h"
#include "platform/Preferences.h"
#include "platform/PrimaryInterface.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInformation>
#include <QNetworkInterface>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>

const QString UWHttpRequestManager::kBaiduAppId = QStringLiteral("31846027719054863");
const QString UWHttpRequestManager::kBaiduSecret = QStringLiteral("Tr4kWq8LmZpE2vHc7Nsd");
const QString UWHttpRequestManager::kXunfeiAppId = QStringLiteral("a3d91e07");
const QString UWHttpRequestManager::kXunfeiSecret = QStringLiteral("4e8b1c93f0a7d26e5b3c9f18a4e07d52");
const QString UWHttpRequestManager::kXunfeiApiKey = QStringLiteral("c71f0e4a9b28d35e6f0a1c47b92e8d60");
const QString UWHttpRequestManager::kNoNetworkKey = QStringLiteral("请检查网络");
const QString UWHttpRequestManager::kSystemErrorKey = QStringLiteral("系统错误");
const QString UWHttpRequestManager::kNotFound = QStringLiteral("Not found");
const QString UWHttpRequestManager::kPublicAddressCountryKey = QStringLiteral("PublicAddressCountryURL");
const QString UWHttpRequestManager::kAddressCountryKey = QStringLiteral("AddressCountryURL");
const QString UWHttpRequestManager::kNoTranslation = QStringLiteral("Error: the reply holds no translation");

namespace request_manager {

const QString kBaiduPath = QStringLiteral("/api/trans/vip/translate");
const QString kXunfeiPath = QStringLiteral("/v2/ots");
const QString kXunfeiRequestLine = QStringLiteral("POST /v2/ots HTTP/1.1");

QString overridden(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}

// Every byte but the unreserved ones escaped: a value can never add a
// parameter, a path segment or a fragment.
QByteArray encoded(const QString& value)
{
    return QUrl::toPercentEncoding(value);
}

QByteArray formOrQuery(const QVariantMap& values)
{
    QByteArrayList pairs;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        pairs << encoded(it.key()) + '=' + encoded(it.value().toString());
    return pairs.join('&');
}

std::optional<QJsonObject> jsonObject(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

UWHttpRequestManager::Reachability systemReachability()
{
    const QNetworkInformation* info = QNetworkInformation::instance();
    if (!info)
        return UWHttpRequestManager::Reachability::Unknown;
    switch (info->reachability()) {
    case QNetworkInformation::Reachability::Disconnected:
        return UWHttpRequestManager::Reachability::NotReachable;
    case QNetworkInformation::Reachability::Unknown:
        return UWHttpRequestManager::Reachability::Unknown;
    default:
        return UWHttpRequestManager::Reachability::Reachable;
    }
}

// A lookup without its service: said once per service and run.
void tellNotConfigured(const char* variable, const QString& key)
{
    static QSet<QString> told;
    if (told.contains(key))
        return;
    told.insert(key);
    qInfo("UWHttpRequestManager: no country service configured (%s or the setting \"%s\"); the search engine "
          "setting is left as it is",
        variable, qPrintable(key));
}

} // namespace request_manager

UWHttpRequestManager::Endpoints UWHttpRequestManager::Endpoints::configured(const platform::Preferences& defaults)
{
    Endpoints e;
    e.baiduTranslate = request_manager::overridden("PRAVIK_BAIDU_TRANSLATE_URL", e.baiduTranslate);
    e.xunfeiTranslate = request_manager::overridden("PRAVIK_OTS_URL", e.xunfeiTranslate);
    e.publicAddressCountry = request_manager::overridden(
        "PRAVIK_PUBLIC_GEO_URL", defaults.value(kPublicAddressCountryKey).toString().trimmed());
    e.addressCountry
        = request_manager::overridden("PRAVIK_ADDRESS_GEO_URL", defaults.value(kAddressCountryKey).toString().trimmed());
    return e;
}

UWHttpRequestManager::Endpoints UWHttpRequestManager::Endpoints::configured()
{
    return configured(platform::Preferences::standard());
}

UWHttpRequestManager& UWHttpRequestManager::sharedUWHttpRequestManager()
{
    static UWHttpRequestManager* shared = new UWHttpRequestManager(
        platform::HttpClient::shared(), MMUserInfo::sharedMMUserInfo().webConfig(), Endpoints::configured());
    return *shared;
}

UWHttpRequestManager::UWHttpRequestManager(platform::HttpClient& http, MMwebconfig& webConfig, Endpoints endpoints)
    : http_(http)
    , webConfig_(webConfig)
    , endpoints_(std::move(endpoints))
    , probe_(request_manager::systemReachability)
{
}

bool UWHttpRequestManager::validNetworkIsNotReable() const
{
    return probe_ && probe_() == Reachability::NotReachable;
}

void UWHttpRequestManager::networkStatusChangeCallBack(std::function<void(bool reachable)> callback)
{
    networkStatusCallback_ = std::move(callback);
}

void UWHttpRequestManager::reachabilityChanged(Reachability reachability)
{
    if (reachability == Reachability::Unknown || !networkStatusCallback_)
        return;
    networkStatusCallback_(reachability == Reachability::Reachable);
}

void UWHttpRequestManager::networkReachabilityManager()
{
    if (watching_)
        return;
    watching_ = true;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
        [this] { reachabilityChanged(request_manager::systemReachability()); });
}

platform::HttpRequest UWHttpRequestManager::sceneRequest(const UWNetSceneInterface& scene, QString* refusalText)
{
    platform::HttpRequest request;
    request.method = scene.httpMethod().toUpper().toLatin1();
    QUrl url(scene.requestURL(), QUrl::TolerantMode);
    const QVariantMap parameters = scene.requestParameters();
    const bool inQuery = request.method == "GET" || request.method == "HEAD" || request.method == "DELETE";
    if (inQuery && !parameters.isEmpty()) {
        QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
        query += (query.isEmpty() ? "" : "&") + request_manager::formOrQuery(parameters);
        url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    }
    request.url = url;
    if (refusalText)
        *refusalText = SecureEndpoint::refusal(url);
    const QVariantMap header = scene.requestHeader();
    for (auto it = header.cbegin(); it != header.cend(); ++it)
        request.headers.append({ it.key().toLatin1(), it.value().toString().toUtf8() });
    if (const std::optional<QByteArray> body = scene.requestBody())
        request.body = *body;
    else if (!inQuery && !parameters.isEmpty())
        request.body = QJsonDocument(QJsonObject::fromVariantMap(parameters)).toJson(QJsonDocument::Compact);
    const int timeout = scene.timeOutInterval();
    request.timeoutSeconds = timeout > 0 ? timeout : kSessionTimeoutSeconds;
    return request;
}

std::optional<UWHttpRequestManager::SceneOutcome> UWHttpRequestManager::sceneOutcome(
    const UWNetSceneInterface& scene, const platform::HttpResponse& response)
{
    if (response.error != platform::HttpResponse::Error::None)
        return SceneOutcome { false, {}, { response.errorString, -1 } };
    if (!response.isSuccessStatus())
        return SceneOutcome { false, {}, { QStringLiteral("HTTP status %1").arg(response.status), response.status } };
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    if (response.body.trimmed().isEmpty() || document.isNull())
        return SceneOutcome { false, {},
            { LGNLocalizedString::lgnAppLocalizedString(kSystemErrorKey), -2 } };
    const QVariant reply = document.toVariant();
    switch (scene.resultBackType()) {
    case UWResultBackType::AlwaysSuccess:
        return SceneOutcome { true, reply, {} };
    case UWResultBackType::ResultCode: {
        const QString field = scene.resultCodeParsingField();
        const QVariantMap map = reply.toMap();
        if (field.isEmpty() || !map.contains(field))
            return SceneOutcome { true, reply, {} };
        bool ok = false;
        const qint64 code = map.value(field).toLongLong(&ok);
        if (!ok || code == 0)
            return SceneOutcome { true, reply, {} };
        const QVariant message = map.value(scene.resultMessageParsingField());
        const QString domain = message.typeId() == QMetaType::QString ? message.toString()
                                                                     : QStringLiteral("result code %1").arg(code);
        return SceneOutcome { false, reply, { domain, code } };
    }
    case UWResultBackType::NoCallback:
        break;
    }
    return std::nullopt;
}

void UWHttpRequestManager::httpRequestWithScene(const UWNetSceneInterface& scene, SceneCallback callback)
{
    if (!callback)
        callback = [](bool, const QVariant&, const Error&) {};
    if (validNetworkIsNotReable()) {
        const Error error { LGNLocalizedString::lgnAppLocalizedString(kNoNetworkKey), 0 };
        QMetaObject::invokeMethod(this, [callback, error] { callback(false, QVariant(), error); }, Qt::QueuedConnection);
        return;
    }
    QString refused;
    const platform::HttpRequest request = sceneRequest(scene, &refused);
    if (!refused.isNull()) {
        const Error error { refused, -1 };
        QMetaObject::invokeMethod(this, [callback, error] { callback(false, QVariant(), error); }, Qt::QueuedConnection);
        return;
    }
    // The scene's answers are read now: the scene may be gone by the reply.
    struct SceneCopy final : UWNetBaseScene {
        UWResultBackType type;
        QString codeField, messageField;
        UWResultBackType resultBackType() const override { return type; }
        QString resultCodeParsingField() const override { return codeField; }
        QString resultMessageParsingField() const override { return messageField; }
    };
    auto copy = std::make_shared<SceneCopy>();
    copy->type = scene.resultBackType();
    copy->codeField = scene.resultCodeParsingField();
    copy->messageField = scene.resultMessageParsingField();
    http_.send(request, [copy, callback](const platform::HttpResponse& response) {
        if (const std::optional<SceneOutcome> outcome = sceneOutcome(*copy, response))
            callback(outcome->success, outcome->reply, outcome->error);
    });
}

QString UWHttpRequestManager::generateSignWithBaiduDict(const QVariantMap& dict)
{
    const QString joined = dict.value(QStringLiteral("appid")).toString() + dict.value(QStringLiteral("q")).toString()
        + dict.value(QStringLiteral("salt")).toString() + dict.value(QStringLiteral("pwd")).toString();
    return StringCoding::uw_md5(joined);
}

QString UWHttpRequestManager::baiduSalt()
{
    return QString::number(QRandomGenerator::global()->bounded(500, 1001));
}

UWHttpRequestManager::BaiduOutcome UWHttpRequestManager::baiduReply(const QByteArray& body)
{
    const QJsonObject reply = request_manager::jsonObject(body).value_or(QJsonObject());
    if (reply.contains(QStringLiteral("trans_result"))) {
        const QJsonArray results = reply.value(QStringLiteral("trans_result")).toArray();
        // A result without a text of its own counts as an empty text.
        const auto dst = [](const QJsonValue& result) {
            return result.toObject().value(QStringLiteral("dst")).toString(QStringLiteral(""));
        };
        if (results.size() == 1)
            return { true, dst(results.first()) };
        QString joined = QStringLiteral("");
        for (const QJsonValue& result : results)
            joined += u'\n' + dst(result);
        return { true, joined };
    }
    if (reply.contains(QStringLiteral("error_code")))
        return { false,
            QStringLiteral("Error: %1").arg(reply.value(QStringLiteral("error_code")).toVariant().toString()) };
    // Neither a translation nor an error code: still an answer for the caller.
    return { false, kNoTranslation };
}

void UWHttpRequestManager::httpBaiduTranslateRequestWithQ(const QString& q, const QString& from, const QString& to,
    std::function<void(const QString&)> success, std::function<void(const QString&)> failure)
{
    if (!success)
        success = [](const QString&) {};
    if (!failure)
        failure = [](const QString&) {};
    QUrl url(endpoints_.baiduTranslate);
    url.setPath(request_manager::kBaiduPath);
    if (const QString refused = SecureEndpoint::refusal(url); !refused.isNull()) {
        QMetaObject::invokeMethod(this, [failure, refused] { failure(refused); }, Qt::QueuedConnection);
        return;
    }
    const QString salt = baiduSalt();
    const QString sign = generateSignWithBaiduDict({ { QStringLiteral("appid"), kBaiduAppId },
        { QStringLiteral("q"), q }, { QStringLiteral("salt"), salt }, { QStringLiteral("pwd"), kBaiduSecret } });
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = kSessionTimeoutSeconds;
    request.headers = { { "Content-Type", "application/x-www-form-urlencoded" } };
    request.body = request_manager::formOrQuery({ { QStringLiteral("q"), q }, { QStringLiteral("from"), from },
        { QStringLiteral("to"), to }, { QStringLiteral("appid"), kBaiduAppId }, { QStringLiteral("salt"), salt },
        { QStringLiteral("sign"), sign } });
    http_.send(request, [success, failure](const platform::HttpResponse& response) {
        if (response.error != platform::HttpResponse::Error::None) {
            failure(response.errorString);
            return;
        }
        const BaiduOutcome outcome = baiduReply(response.body);
        if (outcome.success)
            success(outcome.text);
        else
            failure(outcome.text);
    });
}

void UWHttpRequestManager::httpXunfeiTranslateRequestWithQ(const QString& q, const QString& from, const QString& to,
    std::function<void(const QVariant&)> success, std::function<void(const QString&)> failure)
{
    QUrl url(endpoints_.xunfeiTranslate);
    url.setPath(request_manager::kXunfeiPath);
    if (const QString refused = SecureEndpoint::refusal(url); !refused.isNull()) {
        if (failure)
            failure(refused);
        return;
    }
    // The service reads the text as Base64 of its UTF-8 bytes.
    const QJsonObject object { { QStringLiteral("common"), QJsonObject { { QStringLiteral("app_id"), kXunfeiAppId } } },
        { QStringLiteral("business"), QJsonObject { { QStringLiteral("from"), from }, { QStringLiteral("to"), to } } },
        { QStringLiteral("data"),
            QJsonObject { { QStringLiteral("text"), q } } } };
    const QByteArray body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    const QString date = StringCoding::getTime();
    const QString host = XunfeiSignature::hostField(url);
    const QString digest = QStringLiteral("SHA-256=")
        + QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toBase64());
    const QString signedText = QStringLiteral("host: %1\ndate: %2\n%3\ndigest: %4")
                                   .arg(host, date, request_manager::kXunfeiRequestLine, digest);
    const QString authorization = XunfeiSignature::authorization(kXunfeiApiKey,
        QStringLiteral("host date request-line digest"), HLParamTools::hmacSHA256WithSecret(kXunfeiSecret, signedText));
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.body = body;
    request.timeoutSeconds = kXunfeiTimeoutSeconds;
    request.headers = { { "Host", host.toUtf8() }, { "Date", date.toUtf8() }, { "Digest", digest.toUtf8() },
        { "Authorization", authorization.toUtf8() }, { "Content-Type", "application/json" } };
    const platform::HttpResponse response = http_.sendBlocking(request);
    if (response.error != platform::HttpResponse::Error::None) {
        if (failure)
            failure(response.errorString);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    if (!response.isSuccessStatus() || document.isNull()) {
        if (failure)
            failure(QStringLiteral("HTTP status %1, %2 bytes that are not a translation reply")
                        .arg(response.status)
                        .arg(response.body.size()));
        return;
    }
    if (success)
        success(document.toVariant());
}

void UWHttpRequestManager::setSearchEngineFromCountry(const QUrl& url, const QString& key, const QString& chinaValue)
{
    if (const QString refused = SecureEndpoint::refusal(url); !refused.isNull()) {
        qWarning("UWHttpRequestManager: %s", qPrintable(refused));
        return;
    }
    platform::HttpRequest request;
    request.url = url;
    request.timeoutSeconds = kSessionTimeoutSeconds;
    QPointer<UWHttpRequestManager> self(this);
    http_.send(request, [self, key, chinaValue](const platform::HttpResponse& response) {
        if (!self || !response.isSuccessStatus())
            return;
        const std::optional<QJsonObject> reply = request_manager::jsonObject(response.body);
        if (!reply)
            return;
        const QString country = reply->value(key).toString();
        if (country.isEmpty())
            return;
        self->webConfig_.setSec_searchEngine(country == chinaValue ? 0 : 1);
    });
}

void UWHttpRequestManager::fetchCountryForPublicIPAddress()
{
    if (endpoints_.publicAddressCountry.isEmpty()) {
        request_manager::tellNotConfigured("PRAVIK_PUBLIC_GEO_URL", kPublicAddressCountryKey);
        return;
    }
    QUrl url(endpoints_.publicAddressCountry);
    url.setPath(QStringLiteral("/json/"));
    setSearchEngineFromCountry(url, QStringLiteral("country_name"), QStringLiteral("China"));
}

void UWHttpRequestManager::fetchLocationForIPAddress(const QString& address)
{
    if (endpoints_.addressCountry.isEmpty()) {
        request_manager::tellNotConfigured("PRAVIK_ADDRESS_GEO_URL", kAddressCountryKey);
        return;
    }
    QUrl url(endpoints_.addressCountry);
    // The address is one path segment, whatever it holds.
    url.setPath(QStringLiteral("/%1/json").arg(QString::fromLatin1(request_manager::encoded(address))), QUrl::StrictMode);
    setSearchEngineFromCountry(url, QStringLiteral("country"), QStringLiteral("CN"));
}

QString UWHttpRequestManager::getIPAddress(const QString& interfaceName, const QList<InterfaceAddress>& addresses)
{
    QString found = kNotFound;
    for (const InterfaceAddress& entry : addresses) {
        if (!interfaceName.isEmpty() && entry.interfaceName == interfaceName
            && entry.address.protocol() == QAbstractSocket::IPv4Protocol)
            found = entry.address.toString();
    }
    return found;
}

QString UWHttpRequestManager::getIPAddress()
{
    QList<InterfaceAddress> addresses;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            addresses.append({ interface.name(), entry.ip() });
    }
    return getIPAddress(platform::PrimaryInterface::name(), addresses);
}
