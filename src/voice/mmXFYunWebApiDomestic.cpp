#include "voice/mmXFYunWebApiDomestic.h"

#include "core/MMUserInfo.h"
#include "core/mmApiKeyItem.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "voice/PcmSourceRegistry.h"

#include <QCoreApplication>

const QString mmXFYunWebApiDomestic::kMinorLanguageEndpoint
    = QStringLiteral("wss://iat-niche-api.xfyun.cn/v2/iat");

mmXFYunWebApiDomestic& mmXFYunWebApiDomestic::sharedmmXFYunWebApiDomestic()
{
    // Owned by the application object, so its sockets go before the event loop's machinery.
    static mmXFYunWebApiDomestic* client
        = new mmXFYunWebApiDomestic({ MMUserInfo::sharedMMUserInfo(), PcmSourceRegistry::shared(),
                                        platform::MainQueue::shared(), platform::Clock::system() },
            QCoreApplication::instance());
    return *client;
}

mmXFYunWebApiDomestic::mmXFYunWebApiDomestic(Environment environment, QObject* parent)
    : mmXFYunDictationClient(environment, parent)
{
}

mmXFYunDictationClient::Service mmXFYunWebApiDomestic::serviceFor(
    const mmApiKeyItem& keys, const QString& language) const
{
    const bool minor = !language.contains(QLatin1String("zh")) && !language.contains(QLatin1String("en"));
    return { minor ? minorLanguageEndpoint_ : keys.cn_urlstr, keys.iat_appid, keys.iat_appkey,
        keys.iat_appsecret };
}
