#include "voice/KWAsrXunfeiWebApiService.h"

#include "core/MMUserInfo.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/Clock.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/mmXFYunRequestBuilder.h"
#include "voice/mmXFYunWebApiDomestic.h"

#include <QCoreApplication>

KWAsrXunfeiWebApiService& KWAsrXunfeiWebApiService::sharedKWAsrXunfeiWebApiService()
{
    static MessageBoxAlertPresenter alerts;
    static KWAsrXunfeiWebApiService* client = new KWAsrXunfeiWebApiService(
        { MMUserInfo::sharedMMUserInfo(), PcmSourceRegistry::shared(), alerts, platform::Clock::system() },
        QCoreApplication::instance());
    return *client;
}

KWAsrXunfeiWebApiService::KWAsrXunfeiWebApiService(Environment environment, QObject* parent)
    : EarlierDictationClient(environment, parent)
    , minorLanguageEndpoint_(mmXFYunWebApiDomestic::kMinorLanguageEndpoint)
{
}

EarlierDictationClient::Service KWAsrXunfeiWebApiService::serviceFor(
    const mmApiKeyItem& keys, const QString& language) const
{
    // The region is read at every begin: it comes with the device.
    if (user().ipCountry() != MMUserInfo::kMainlandRegion)
        return { keys.int_urlstr, keys.int_iat_appid, keys.int_iat_appkey, keys.int_iat_appsecret };
    const bool minor = !language.contains(QLatin1String("zh")) && !language.contains(QLatin1String("en"));
    return { minor ? minorLanguageEndpoint_ : keys.cn_urlstr, keys.iat_appid, keys.iat_appkey, keys.iat_appsecret };
}

QJsonObject KWAsrXunfeiWebApiService::businessParameters(const QString& language, quint64 punctuation) const
{
    QJsonObject business = mmXFYunRequestBuilder::businessParameters(language, punctuation, DictationRegion::Mainland);
    business.insert(mmXFYunRequestBuilder::kVadEosKey, kVadEos);
    business.insert(mmXFYunRequestBuilder::kDwaKey, mmXFYunRequestBuilder::kDynamicCorrection);
    return business;
}

void KWAsrXunfeiWebApiService::appendReply(const QString& text, bool last)
{
    deliver(text, RecognitionResultType::NewSegment);
    deliver(complete(), RecognitionResultType::RunningText);
    setComplete(complete() + fixResult());
    if (last) {
        setComplete(complete() + text);
        deliver(complete(), RecognitionResultType::SessionFinished);
        deliver(complete(), RecognitionResultType::RunningText);
    }
}

void KWAsrXunfeiWebApiService::replaceReply(const QString& text)
{
    setFixResult(text);
    deliver(text, RecognitionResultType::Corrected);
    deliver(complete() + text, RecognitionResultType::RunningText);
}
