#include "translate/MMMicrosoftOCRRecognition.h"

#include "core/MMUserInfo.h"
#include "platform/MainQueue.h"
#include "translate/TranslationEndpoint.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

const QString MMMicrosoftOCRRecognition::kAddressFormat = QStringLiteral("%1/vision/v3.2/ocr");
const QString MMMicrosoftOCRRecognition::kHttpErrorFormat
    = QStringLiteral("HTTP Response Code:%1\nError Response:%2");
const QString MMMicrosoftOCRRecognition::kTransportErrorFormat = QStringLiteral("Error: %1");
const QString MMMicrosoftOCRRecognition::kNoText
    = QStringLiteral("Error: no text was recognised in the picture");
const QString MMMicrosoftOCRRecognition::kNoAddress = QStringLiteral("Error: no recognition service address");
const QString MMMicrosoftOCRRecognition::kUnreadableReply
    = QStringLiteral("Error: the recognition service's reply cannot be read");

MMMicrosoftOCRRecognition::MMMicrosoftOCRRecognition(const MMUserInfo& user)
    : user_(user)
{
}

void MMMicrosoftOCRRecognition::performOCRWithImage(const QImage& image, Callback callback) const
{
    if (!callback)
        callback = [](const OcrResult&) {};
    const std::optional<platform::HttpRequest> built
        = request(user_.apikeyItem().value_or(mmApiKeyItem()), image);
    if (!built) {
        platform::MainQueue::shared().async(
            [callback = std::move(callback)] { callback(OcrResult::failure(kNoAddress)); });
        return;
    }
    platform::HttpClient::shared().send(
        *built, [callback = std::move(callback)](const platform::HttpResponse& response) {
            callback(readReply(response));
        });
}

std::optional<platform::HttpRequest> MMMicrosoftOCRRecognition::request(
    const mmApiKeyItem& keys, const QImage& image)
{
    if (keys.azure_ocr_url.isEmpty())
        return std::nullopt;
    const QUrl url(kAddressFormat.arg(keys.azure_ocr_url), QUrl::StrictMode);
    if (const QString refusal = TranslationEndpoint::refusal(url); !refusal.isNull()) {
        qWarning("MMMicrosoftOCRRecognition: %s", qPrintable(refusal));
        return std::nullopt;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);

    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = kTimeoutSeconds;
    request.headers = {
        { "Content-Type", "application/octet-stream" },
        { "Accept", "application/json" },
        { "Ocp-Apim-Subscription-Key", keys.azure_ocr_key.toUtf8() },
    };
    request.body = jpeg;
    return request;
}

OcrResult MMMicrosoftOCRRecognition::readReply(const platform::HttpResponse& response)
{
    if (response.error != platform::HttpResponse::Error::None)
        return OcrResult::failure(kTransportErrorFormat.arg(response.errorString));
    if (response.status != 200)
        return OcrResult::failure(
            kHttpErrorFormat.arg(response.status).arg(QString::fromUtf8(response.body)));
    QJsonParseError error;
    const QJsonDocument reply = QJsonDocument::fromJson(response.body, &error);
    if (error.error != QJsonParseError::NoError || !reply.isObject())
        return OcrResult::failure(kUnreadableReply);
    const bool joined
        = reply.object().value(QStringLiteral("language")).toString().contains(QLatin1StringView("zh"));
    QString text;
    bool anyWord = false;
    for (const QJsonValue& region : reply.object().value(QStringLiteral("regions")).toArray()) {
        for (const QJsonValue& line : region.toObject().value(QStringLiteral("lines")).toArray()) {
            for (const QJsonValue& word : line.toObject().value(QStringLiteral("words")).toArray()) {
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
