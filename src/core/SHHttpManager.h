#pragma once

#include "core/HLHttpManager.h"
#include "platform/HttpClient.h"

#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <mutex>

// The back-end, update-check and document-recognition requests. Each reply
// is read from its raw bytes: a 2xx reply whose body is JSON goes to success
// with the JSON as a QVariant tree (integers as qlonglong); transport errors,
// timeouts, other statuses and bodies that are not JSON go to failure.
// Handlers run on the main thread. Both handlers may be empty.
class SHHttpManager {
public:
    using Success = std::function<void(const QVariant& json)>;
    using Failure = std::function<void(const HttpFailure& failure)>;

    // Timeout of the asynchronous requests.
    static constexpr double kRequestTimeoutSeconds = 60;
    // Timeout of the blocking JSON post.
    static constexpr double kBlockingTimeoutSeconds = 10;

    // Where the token and OCR requests of the Baidu service go, and the
    // application's credentials there. Nothing in the application sends
    // these requests; the credentials are empty until configured.
    struct BaiduConfiguration {
        QString oauthBaseUrl = QStringLiteral("https://aip.baidubce.com");
        QString ocrBaseUrl = QStringLiteral("https://aip.baidubce.com");
        QString clientId;
        QString clientSecret;
    };

    static SHHttpManager& sharedManager();

    explicit SHHttpManager(platform::HttpClient& client);

    void setRequestTimeout(double seconds);
    void setBlockingTimeout(double seconds);
    void setBaiduConfiguration(const BaiduConfiguration& configuration);

    // GET with the header field "content-type: application/json" and no body.
    void httpGetApiKeyWithURL(const QString& url, Success success, Failure failure);
    // GET with no extra header field.
    void httpGetOpenkey(const QString& url, Success success, Failure failure);
    // POST with an empty body and "content-type: application/json".
    void httpRequestNewVersion(const QString& url, Success success, Failure failure);
    // POST of param (a JSON object or array), pretty-printed, with exactly the
    // header field "content-type: application/json". Blocks the calling
    // thread until the reply or the blocking timeout, never longer. Called on
    // the main thread, the handler has run when this returns; called on
    // another thread, the handler is queued to the main thread.
    void httpXfeiGetTokenWithURL(const QString& url, const QVariant& param, Success success, Failure failure);
    // The same request as httpGetApiKeyWithURL().
    void httpGetProductInfoWithURL(const QString& url, Success success, Failure failure);
    // POST of the parameters (a map) form-encoded, labelled
    // "content-type: application/json". The two are the same request.
    void httpXunfeiGetTokenWithURL(
        const QString& url, const QVariant& parameters, Success success, Failure failure);
    void AAAAAhttpXunfeiGetTokenWithURL(
        const QString& url, const QVariant& parameters, Success success, Failure failure);
    // POST of the client-credentials grant to the token endpoint.
    void httpBaiduGetTokenSuccess(Success success, Failure failure);
    // Multipart POST of "access_token", "image" and "language_type" (the
    // source language) to the OCR endpoint; the target language is not sent.
    void httpBaiduOCRWithFrom(const QString& from, const QString& to, const QString& token,
        const QString& imageString, Success success, Failure failure);
    // An empty POST to the token endpoint whose reply is dropped: none of the
    // arguments is used and neither handler is called.
    void httpBaiduTranslateRequestWithQ(
        const QString& q, const QString& from, const QString& to, Success success, Failure failure);

private:
    platform::HttpRequest newRequest(const QByteArray& method, const QString& url) const;
    void sendForJson(platform::HttpRequest request, Success success, Failure failure);
    void sendForm(
        const QString& url, const QVariant& parameters, bool labelJson, Success success, Failure failure);

    platform::HttpClient& client_;
    std::atomic<double> requestTimeout_ { kRequestTimeoutSeconds };
    std::atomic<double> blockingTimeout_ { kBlockingTimeoutSeconds };
    mutable std::mutex baiduMutex_;
    BaiduConfiguration baidu_;
};
