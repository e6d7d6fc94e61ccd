#include "translate/MMMicrosoftOCRRecognition.h"

#include "core/MMImage.h"
#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

const QString MMMicrosoftOCRRecognition::kAddressFormat = QStringLiteral("%1/vision/v3.2/ocr");
const QString MMMicrosoftOCRRecognition::kAddressFormat222 = QStringLiteral("%1/vision/v3.1/ocr");
const QString& MMMicrosoftOCRRecognition::kHttpError = OcrResult::kHttpError;
const QString& MMMicrosoftOCRRecognition::kTransportError = OcrResult::kTransportError;
const QString& MMMicrosoftOCRRecognition::kNoText = OcrResult::kNoText;
const QString MMMicrosoftOCRRecognition::kNoAddress = QStringLiteral("没有配置识别服务地址。");
const QString& MMMicrosoftOCRRecognition::kUnreadableReply = OcrResult::kUnreadableReply;

namespace {

// The address for a format, or nullopt when it is missing or not allowed.
std::optional<QUrl> microsoftOcrAddress(const QString& format, const mmApiKeyItem& keys)
{
    if (keys.azure_ocr_url.isEmpty())
        return std::nullopt;
    const QUrl url(format.arg(keys.azure_ocr_url), QUrl::StrictMode);
    if (const QString refusal = SecureEndpoint::refusal(url); !refusal.isNull()) {
        qWarning("MMMicrosoftOCRRecognition: %s", qPrintable(refusal));
        return std::nullopt;
    }
    return url;
}

// A picture posted to the service with the subscription key.
platform::HttpRequest microsoftOcrPost(const QUrl& url, const mmApiKeyItem& keys, const QByteArray& picture)
{
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = MMMicrosoftOCRRecognition::kTimeoutSeconds;
    request.headers = {
        { "Content-Type", "application/octet-stream" },
        { "Ocp-Apim-Subscription-Key", keys.azure_ocr_key.toUtf8() },
    };
    request.body = picture;
    return request;
}

// The reply's JSON object, or the failure it comes to.
std::optional<OcrResult> microsoftOcrFailure(const platform::HttpResponse& response, QJsonObject& reply)
{
    using Result = MMMicrosoftOCRRecognition;
    if (response.error != platform::HttpResponse::Error::None)
        return OcrResult::failure(Result::kTransportError, response.errorString);
    if (response.status != 200) {
        qWarning("MMMicrosoftOCRRecognition: HTTP status %d: %s", response.status,
            qPrintable(QString::fromUtf8(response.body.left(512))));
        return OcrResult::failure(Result::kHttpError, QString::number(response.status));
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return OcrResult::failure(Result::kUnreadableReply);
    reply = document.object();
    return std::nullopt;
}

QJsonArray microsoftOcrArray(const QJsonValue& object, const char* key)
{
    return object.toObject().value(QLatin1StringView(key)).toArray();
}

} // namespace

MMMicrosoftOCRRecognition::MMMicrosoftOCRRecognition(const MMUserInfo& user)
    : user_(user)
{
}

void MMMicrosoftOCRRecognition::performOCRWithImage(const QImage& image, Callback callback) const
{
    perform(
        image, &MMMicrosoftOCRRecognition::request,
        [](const platform::HttpResponse& response) { return QList<OcrResult> { readReply(response) }; },
        std::move(callback));
}

void MMMicrosoftOCRRecognition::performOCRWithImage222(const QImage& image, Callback callback) const
{
    perform(image, &MMMicrosoftOCRRecognition::request222, &MMMicrosoftOCRRecognition::readReply222,
        std::move(callback));
}

void MMMicrosoftOCRRecognition::perform(const QImage& image, Builder build, Reader read, Callback callback) const
{
    if (!callback)
        callback = [](const OcrResult&) {};
    // The settings are read here, on the main thread; the worker gets a copy.
    platform::GlobalQueue::async([keys = user_.apikeyItem().value_or(mmApiKeyItem()), image, build, read,
                                     callback = std::move(callback)] {
        const std::optional<platform::HttpRequest> built = build(keys, image);
        if (!built) {
            platform::MainQueue::shared().async([callback] { callback(OcrResult::failure(kNoAddress)); });
            return;
        }
        platform::HttpClient::shared().send(*built, [read, callback](const platform::HttpResponse& response) {
            for (const OcrResult& result : read(response))
                callback(result);
        });
    });
}

std::optional<platform::HttpRequest> MMMicrosoftOCRRecognition::request(
    const mmApiKeyItem& keys, const QImage& image)
{
    const std::optional<QUrl> url = microsoftOcrAddress(kAddressFormat, keys);
    if (!url)
        return std::nullopt;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    platform::HttpRequest request = microsoftOcrPost(*url, keys, jpeg);
    request.headers.insert(1, { "Accept", "application/json" });
    return request;
}

std::optional<platform::HttpRequest> MMMicrosoftOCRRecognition::request222(
    const mmApiKeyItem& keys, const QImage& image)
{
    const std::optional<QUrl> url = microsoftOcrAddress(kAddressFormat222, keys);
    if (!url)
        return std::nullopt;
    // PNG is lossless: the service sees every pixel as captured.
    return microsoftOcrPost(*url, keys, MMImage(image).mm_PNGData());
}

OcrResult MMMicrosoftOCRRecognition::readReply(const platform::HttpResponse& response)
{
    QJsonObject reply;
    if (const std::optional<OcrResult> failure = microsoftOcrFailure(response, reply))
        return *failure;
    const bool joined = reply.value(QStringLiteral("language")).toString().contains(QLatin1StringView("zh"));
    QString text;
    bool anyWord = false;
    for (const QJsonValue& region : reply.value(QStringLiteral("regions")).toArray()) {
        for (const QJsonValue& line : microsoftOcrArray(region, "lines")) {
            for (const QJsonValue& word : microsoftOcrArray(line, "words")) {
                const QJsonValue wordText = word.toObject().value(QStringLiteral("text"));
                if (!wordText.isString())
                    continue;
                text += wordText.toString();
                anyWord = true;
                if (!joined)
                    text += u' ';
            }
            text += u'\n';
        }
    }
    if (!anyWord)
        return OcrResult::failure(kNoText);
    return OcrResult::success(text);
}

QList<OcrResult> MMMicrosoftOCRRecognition::readReply222(const platform::HttpResponse& response)
{
    QJsonObject reply;
    if (const std::optional<OcrResult> failure = microsoftOcrFailure(response, reply))
        return { *failure };
    const QString language = reply.value(QStringLiteral("language")).toString();
    const bool joined
        = language.contains(QLatin1StringView("zh")) || language.contains(QLatin1StringView("ja"));
    QList<OcrResult> regions;
    for (const QJsonValue& region : reply.value(QStringLiteral("regions")).toArray()) {
        QString text;
        for (const QJsonValue& line : microsoftOcrArray(region, "lines")) {
            for (const QJsonValue& word : microsoftOcrArray(line, "words")) {
                const QJsonValue wordText = word.toObject().value(QStringLiteral("text"));
                if (!wordText.isString())
                    continue;
                text += wordText.toString();
                if (!joined)
                    text += u' ';
            }
        }
        if (!text.isEmpty())
            regions.append(OcrResult::success(text));
    }
    if (regions.isEmpty())
        return { OcrResult::failure(kNoText) };
    return regions;
}
