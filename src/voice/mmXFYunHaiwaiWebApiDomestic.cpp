#include "voice/mmXFYunHaiwaiWebApiDomestic.h"

#include "core/MMUserInfo.h"
#include "core/mmApiKeyItem.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "voice/PcmSourceRegistry.h"

#include <QCoreApplication>

mmXFYunHaiwaiWebApiDomestic& mmXFYunHaiwaiWebApiDomestic::sharedmmXFYunHaiwaiWebApiDomestic()
{
    // Owned by the application object, so its sockets go before the event loop's machinery.
    static mmXFYunHaiwaiWebApiDomestic* client
        = new mmXFYunHaiwaiWebApiDomestic({ MMUserInfo::sharedMMUserInfo(), PcmSourceRegistry::shared(),
                                              platform::MainQueue::shared(), platform::Clock::system() },
            QCoreApplication::instance());
    return *client;
}

mmXFYunHaiwaiWebApiDomestic::mmXFYunHaiwaiWebApiDomestic(Environment environment, QObject* parent)
    : mmXFYunDictationClient(environment, parent)
{
}

mmXFYunDictationClient::Service mmXFYunHaiwaiWebApiDomestic::serviceFor(
    const mmApiKeyItem& keys, const QString&) const
{
    return { keys.int_urlstr, keys.int_iat_appid, keys.int_iat_appkey, keys.int_iat_appsecret };
}
