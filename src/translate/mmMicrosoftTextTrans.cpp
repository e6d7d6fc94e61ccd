#include "translate/mmMicrosoftTextTrans.h"

#include "core/StringCoding.h"

#include "core/HLBaseResponse.h"
#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "platform/MainQueue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

const QString mmMicrosoftTextTrans::kAddressFormat = QStringLiteral("%1?api-version=3.0&to=%2");
const QString mmMicrosoftTextTrans::kRegion = QStringLiteral("southeastasia");
const QString mmMicrosoftTextTrans::kServiceErrorFormat = QStringLiteral("ErrorCode=%1,%2");
const QString mmMicrosoftTextTrans::kUnexpectedReply
    = QStringLiteral("The translation service's reply holds no translation");
const QString mmMicrosoftTextTrans::kNoAddress = QStringLiteral("No translation service address");

namespace {

const QString kText = QStringLiteral("Text");
const QString kTranslations = QStringLiteral("translations");
const QString kTextKey = QStringLiteral("text");
const QString kError = QStringLiteral("error");
const QString kCode = QStringLiteral("code");
const QString kMessage = QStringLiteral("message");

// The "text" of the first translation of the first element, when the reply
// has that shape.
std::optional<QString> firstTranslation(const QJsonArray& reply)
{
    if (reply.isEmpty())
        return std::nullopt;
    const QJsonValue translations = reply.first().toObject().value(kTranslations);
    if (!translations.isArray() || translations.toArray().isEmpty())
        return std::nullopt;
    const QJsonValue text = translations.toArray().first().toObject().value(kTextKey);
    if (!text.isString())
        return std::nullopt;
    return text.toString();
}

} // namespace

mmMicrosoftTextTrans::mmMicrosoftTextTrans()
    : mmMicrosoftTextTrans(MMUserInfo::sharedMMUserInfo())
{
}

mmMicrosoftTextTrans::mmMicrosoftTextTrans(const MMUserInfo& user, double timeoutSeconds)
    : user_(user)
    , timeoutSeconds_(timeoutSeconds > 0 ? timeoutSeconds : kTimeoutSeconds)
{
}

void mmMicrosoftTextTrans::textTranslationWithFromLang(
    const QString& from, const QString& to, const QString& text, Callback callback) const
{
    Q_UNUSED(from);
    if (!callback)
        callback = [](bool, const QString&) {};
    const std::optional<platform::HttpRequest> built
        = request(user_.apikeyItem().value_or(mmApiKeyItem()), to, text, timeoutSeconds_);
    if (!built) {
        platform::MainQueue::shared().async(
            [callback = std::move(callback)] { callback(false, kNoAddress); });
        return;
    }
    platform::HttpClient::shared().send(
        *built, [callback = std::move(callback)](const platform::HttpResponse& r) {
            const auto [success, result] = readReply(r);
            if (!success)
                qWarning("mmMicrosoftTextTrans: %s", qPrintable(result));
            callback(success, result);
        });
}

QString mmMicrosoftTextTrans::translatorTargetCode(const QString& code)
{
    return StringCoding::translatorTargetCode(code);
}

std::optional<platform::HttpRequest> mmMicrosoftTextTrans::request(
    const mmApiKeyItem& keys, const QString& to, const QString& text, double timeoutSeconds)
{
    if (keys.azure_translate_url.isEmpty())
        return std::nullopt;
    const QString address
        = kAddressFormat.arg(keys.azure_translate_url, QString::fromLatin1(QUrl::toPercentEncoding(to)));
    const QUrl url(address, QUrl::StrictMode);
    if (const QString refusal = SecureEndpoint::refusal(url); !refusal.isNull()) {
        qWarning("mmMicrosoftTextTrans: %s", qPrintable(refusal));
        return std::nullopt;
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = timeoutSeconds;
    request.headers = {
        { "Content-Type", "application/json" },
        { "Ocp-Apim-Subscription-Region", kRegion.toUtf8() },
        { "Ocp-Apim-Subscription-Key", keys.azure_translate_key.toUtf8() },
    };
    request.body
        = QJsonDocument(QJsonArray { QJsonObject { { kText, text } } }).toJson(QJsonDocument::Compact);
    return request;
}

std::pair<bool, QString> mmMicrosoftTextTrans::readReply(const platform::HttpResponse& response)
{
    if (response.error != platform::HttpResponse::Error::None)
        return { false, response.errorString };
    const QJsonDocument reply = QJsonDocument::fromJson(response.body);
    if (reply.isArray()) {
        if (const std::optional<QString> translation = firstTranslation(reply.array()))
            return { true, *translation };
    } else if (reply.isObject() && reply.object().contains(kError)) {
        const QVariantMap error = reply.object().value(kError).toObject().toVariantMap();
        return { false,
            kServiceErrorFormat.arg(HLBaseResponse::textValue(error.value(kCode)),
                HLBaseResponse::textValue(error.value(kMessage))) };
    }
    if (!response.isSuccessStatus())
        return { false, QStringLiteral("HTTP status %1").arg(response.status) };
    return { false, kUnexpectedReply };
}
