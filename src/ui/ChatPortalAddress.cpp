#include "ui/ChatPortalAddress.h"

#include "platform/Preferences.h"
#include "core/MMUserInfo.h"
#include "core/NoticeTexts.h"
#include "platform/UserNotices.h"

const char* const ChatPortalAddress::kEnvironmentVariable = "PRAVIK_CHAT_PORTAL_URL";
const QString ChatPortalAddress::kPreferenceKey = QStringLiteral("ChatPortalURL");
const QString ChatPortalAddress::kNotConfiguredNotice = QStringLiteral("chat-portal-not-configured");

namespace {

QString normalisedPortalOrigin(QString address)
{
    address = address.trimmed();
    while (address.endsWith(u'/'))
        address.chop(1);
    return address;
}

} // namespace

QString ChatPortalAddress::configured(const platform::Preferences& defaults)
{
    const QString fromEnvironment = normalisedPortalOrigin(qEnvironmentVariable(kEnvironmentVariable));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return normalisedPortalOrigin(defaults.stringValue(kPreferenceKey));
}

QString ChatPortalAddress::configured()
{
    return configured(platform::Preferences::standard());
}

void ChatPortalAddress::reportNotConfigured()
{
    if (platform::UserNotices::shared().post(kNotConfiguredNotice,
            NoticeTexts::chatPortalNotConfigured(QString::fromLatin1(kEnvironmentVariable), kPreferenceKey)))
        qWarning("Chat: no portal address is configured (%s or the setting %s)", kEnvironmentVariable,
            qUtf8Printable(kPreferenceKey));
}

QUrl ChatPortalAddress::pageAddress(
    const QString& origin, const QString& country, const QString& serial, const QString& openKey)
{
    const QString path = country.contains(MMUserInfo::kMainlandRegion) ? QStringLiteral("/") : QStringLiteral("/id/");
    const QString query = QStringLiteral("serialstring=%1&customer=zorvane&openkey=%2")
                              .arg(QString::fromLatin1(QUrl::toPercentEncoding(serial)),
                                  QString::fromLatin1(QUrl::toPercentEncoding(openKey)));
    return QUrl(normalisedPortalOrigin(origin) + path + u'?' + query, QUrl::StrictMode);
}
