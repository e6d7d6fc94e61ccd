#pragma once

#include "voice/mmXFYunDictationClient.h"

// The dictation client of the overseas service: every language goes to the
// endpoint the back end supplies (int_urlstr), signed with the overseas
// dictation credentials (int_iat_appid, int_iat_appkey, int_iat_appsecret).
// Every language outside the Chinese family asks for dynamic correction.
class mmXFYunHaiwaiWebApiDomestic final : public mmXFYunDictationClient {
    Q_OBJECT
public:
    // The application's client, over the shared settings, device links and main queue.
    static mmXFYunHaiwaiWebApiDomestic& sharedmmXFYunHaiwaiWebApiDomestic();

    explicit mmXFYunHaiwaiWebApiDomestic(Environment environment, QObject* parent = nullptr);

protected:
    Service serviceFor(const mmApiKeyItem& keys, const QString& language) const override;
    DictationRegion region() const override { return DictationRegion::Overseas; }
};
