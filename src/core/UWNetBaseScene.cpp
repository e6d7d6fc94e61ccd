#include "core/UWNetBaseScene.h"

#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "platform/Preferences.h"

const char* const UWNetBaseScene::kAddressVariable = "PRAVIK_AI_SERVER_URL";
const QString UWNetBaseScene::kAddressPreferenceKey = QStringLiteral("AIServerURL");
const QString UWNetBaseScene::kChannelName = QStringLiteral("UWKS");

QString UWNetBaseScene::requestURL() const
{
    const QString fromEnvironment = qEnvironmentVariable(kAddressVariable).trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return platform::Preferences::standard().value(kAddressPreferenceKey).toString().trimmed();
}

QVariantMap UWNetBaseScene::requestHeader() const
{
    if (myHeaderParam_)
        return *myHeaderParam_;
    return { { QStringLiteral("Content-Type"), QStringLiteral("text/html;charset=utf-8") } };
}

QVariantMap UWNetBaseScene::requestParameters() const
{
    if (myParam_)
        return *myParam_;
    const QString mac = StringCoding::uw_getMacAddress();
    return { { QStringLiteral("channelName"), kChannelName },
        { QStringLiteral("macAddr"), mac.isNull() ? QString(QLatin1String("")) : mac },
        { QStringLiteral("clientversion"), MMUserInfo::myVersion() } };
}
