#pragma once

#include "voice/mmXFYunDictationClient.h"

// The dictation client of the mainland service. Chinese and English go to the
// endpoint the back end supplies (cn_urlstr); every other language goes to the
// service's minor-language endpoint. Signs with the mainland dictation
// credentials (iat_appid, iat_appkey, iat_appsecret). The Chinese family asks
// for dynamic correction.
class mmXFYunWebApiDomestic final : public mmXFYunDictationClient {
    Q_OBJECT
public:
    static const QString kMinorLanguageEndpoint;

    // The application's client, over the shared settings, device links and main queue.
    static mmXFYunWebApiDomestic& sharedmmXFYunWebApiDomestic();

    explicit mmXFYunWebApiDomestic(Environment environment, QObject* parent = nullptr);

    // Where languages outside Chinese and English are recognised.
    void setMinorLanguageEndpoint(const QString& endpoint) { minorLanguageEndpoint_ = endpoint; }

protected:
    Service serviceFor(const mmApiKeyItem& keys, const QString& language) const override;
    DictationRegion region() const override { return DictationRegion::Mainland; }

private:
    QString minorLanguageEndpoint_ = kMinorLanguageEndpoint;
};
