#include "core/SHHttpManager.h"

#include "core/HLBaseResponse.h"
#include "platform/MainQueue.h"

#include <QJsonDocument>
#include <QVariantMap>

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

const QByteArray kContentTypeLower = "content-type";
const QByteArray kSignedContentType = "Content-Type";
const QByteArray kSignedJsonContentType = "application/json";
const QByteArray kSignedFormContentType = "application/x-www-form-urlencoded";
const QString kOAuthTokenPath = QStringLiteral("/oauth/2.0/token");
const QString kOcrPath = QStringLiteral("/rest/2.0/ocr/v1/accurate_basic");

// Runs the call on the main thread: now when already there, else queued.
void onMainThread(std::function<void()> call)
{
    if (platform::MainQueue::isMainThread())
        call();
    else
        platform::MainQueue::shared().async(std::move(call));
}

void deliver(const HttpResponse& response, const SHHttpManager::Success& success,
    const SHHttpManager::Failure& failure)
{
    if (auto problem = HttpFailure::fromResponse(response)) {
        if (failure)
            failure(*problem);
        return;
    }
    if (auto json = HLBaseResponse::parseJson(response.body)) {
        if (success)
            success(*json);
        return;
    }
    if (failure)
        failure(HttpFailure::notJson(response));
}

void failSignedLater(SHHttpManager::Failure failure, HttpFailure what)
{
    if (!failure)
        return;
    platform::MainQueue::shared().async(
        [failure = std::move(failure), what = std::move(what)] { failure(what); });
}

bool isJsonContainer(const QVariant& value)
{
    return value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantList;
}

QString joined(const QString& base, const QString& path)
{
    QString result = base;
    while (result.endsWith(u'/'))
        result.chop(1);
    return result + path;
}

} // namespace

SHHttpManager& SHHttpManager::sharedManager()
{
    static SHHttpManager* manager = new SHHttpManager(platform::HttpClient::shared());
    return *manager;
}

SHHttpManager::SHHttpManager(platform::HttpClient& client)
    : client_(client)
{
}

void SHHttpManager::setRequestTimeout(double seconds)
{
    if (seconds > 0)
        requestTimeout_ = seconds;
}

void SHHttpManager::setBlockingTimeout(double seconds)
{
    if (seconds > 0)
        blockingTimeout_ = seconds;
}

void SHHttpManager::setBaiduConfiguration(const BaiduConfiguration& configuration)
{
    std::lock_guard lock(baiduMutex_);
    baidu_ = configuration;
}

HttpRequest SHHttpManager::newRequest(const QByteArray& method, const QString& url) const
{
    HttpRequest request;
    request.method = method;
    request.url = HLHttpManager::requestUrl(url);
    request.timeoutSeconds = requestTimeout_;
    request.headers = HLHttpManager::defaultHeaderFields();
    return request;
}

void SHHttpManager::sendForJson(HttpRequest request, Success success, Failure failure)
{
    if (!request.url.isValid()) {
        failSignedLater(std::move(failure), HttpFailure::invalidRequest(QStringLiteral("Invalid URL")));
        return;
    }
    client_.send(
        request, [success = std::move(success), failure = std::move(failure)](const HttpResponse& response) {
            deliver(response, success, failure);
        });
}

void SHHttpManager::httpGetApiKeyWithURL(const QString& url, Success success, Failure failure)
{
    HttpRequest request = newRequest("GET", url);
    HLHttpManager::setHeaderField(request.headers, kContentTypeLower, kSignedJsonContentType);
    sendForJson(std::move(request), std::move(success), std::move(failure));
}

void SHHttpManager::httpGetOpenkey(const QString& url, Success success, Failure failure)
{
    sendForJson(newRequest("GET", url), std::move(success), std::move(failure));
}

void SHHttpManager::httpRequestNewVersion(const QString& url, Success success, Failure failure)
{
    HttpRequest request = newRequest("POST", url);
    HLHttpManager::setHeaderField(request.headers, kContentTypeLower, kSignedJsonContentType);
    sendForJson(std::move(request), std::move(success), std::move(failure));
}

void SHHttpManager::httpXfeiGetTokenWithURL(
    const QString& url, const QVariant& param, Success success, Failure failure)
{
    HttpRequest request;
    request.method = "POST";
    request.url = HLHttpManager::requestUrl(url);
    request.timeoutSeconds = blockingTimeout_;
    request.headers = { { kContentTypeLower, kSignedJsonContentType } };
    HttpResponse response;
    if (!request.url.isValid()) {
        response.error = HttpResponse::Error::InvalidRequest;
        response.errorString = QStringLiteral("Invalid URL: %1").arg(url);
    } else if (!isJsonContainer(param)) {
        response.error = HttpResponse::Error::InvalidRequest;
        response.errorString = QStringLiteral("The body is not a JSON object or array");
    } else {
        request.body = QJsonDocument::fromVariant(param).toJson(QJsonDocument::Indented);
        response = client_.sendBlocking(request);
    }
    onMainThread([response, success = std::move(success), failure = std::move(failure)] {
        deliver(response, success, failure);
    });
}

void SHHttpManager::httpGetProductInfoWithURL(const QString& url, Success success, Failure failure)
{
    httpGetApiKeyWithURL(url, std::move(success), std::move(failure));
}

void SHHttpManager::sendForm(
    const QString& url, const QVariant& parameters, bool labelJson, Success success, Failure failure)
{
    if (parameters.isValid() && parameters.typeId() != QMetaType::Nullptr
        && parameters.typeId() != QMetaType::QVariantMap) {
        failSignedLater(
            std::move(failure), HttpFailure::invalidRequest(QStringLiteral("Parameters must be a map")));
        return;
    }
    HttpRequest request = newRequest("POST", url);
    request.body = HLHttpManager::queryString(parameters);
    // These requests carry the JSON label over a form-encoded body.
    HLHttpManager::setHeaderField(request.headers, labelJson ? kContentTypeLower : kSignedContentType,
        labelJson ? kSignedJsonContentType : kSignedFormContentType);
    sendForJson(std::move(request), std::move(success), std::move(failure));
}

void SHHttpManager::httpXunfeiGetTokenWithURL(
    const QString& url, const QVariant& parameters, Success success, Failure failure)
{
    sendForm(url, parameters, true, std::move(success), std::move(failure));
}

void SHHttpManager::AAAAAhttpXunfeiGetTokenWithURL(
    const QString& url, const QVariant& parameters, Success success, Failure failure)
{
    sendForm(url, parameters, true, std::move(success), std::move(failure));
}

void SHHttpManager::httpBaiduGetTokenSuccess(Success success, Failure failure)
{
    BaiduConfiguration baidu;
    {
        std::lock_guard lock(baiduMutex_);
        baidu = baidu_;
    }
    const QVariantMap parameters {
        { QStringLiteral("grant_type"), QStringLiteral("client_credentials") },
        { QStringLiteral("client_id"), baidu.clientId },
        { QStringLiteral("client_secret"), baidu.clientSecret },
    };
    sendForm(joined(baidu.oauthBaseUrl, kOAuthTokenPath), parameters, false, std::move(success),
        std::move(failure));
}

void SHHttpManager::httpBaiduOCRWithFrom(const QString& from, const QString& /*to*/, const QString& token,
    const QString& imageString, Success success, Failure failure)
{
    QString base;
    {
        std::lock_guard lock(baiduMutex_);
        base = baidu_.ocrBaseUrl;
    }
    const QVariantMap parameters {
        { QStringLiteral("access_token"), token },
        { QStringLiteral("image"), imageString },
        { QStringLiteral("language_type"), from },
    };
    HttpRequest request = newRequest("POST", joined(base, kOcrPath));
    const QByteArray boundary = HLHttpManager::newBoundary();
    // The multipart body needs its own content type; it replaces the form
    // label this request is described with.
    HLHttpManager::setHeaderField(request.headers, kSignedContentType, "multipart/form-data; boundary=" + boundary);
    request.body = HLHttpManager::multipartBody(HLHttpManager::formFields(parameters), boundary);
    sendForJson(std::move(request), std::move(success), std::move(failure));
}

void SHHttpManager::httpBaiduTranslateRequestWithQ(const QString& /*q*/, const QString& /*from*/,
    const QString& /*to*/, Success /*success*/, Failure /*failure*/)
{
    QString base;
    {
        std::lock_guard lock(baiduMutex_);
        base = baidu_.oauthBaseUrl;
    }
    HttpRequest request = newRequest("POST", joined(base, kOAuthTokenPath));
    if (request.url.isValid())
        client_.send(request, [](const HttpResponse&) {});
}
