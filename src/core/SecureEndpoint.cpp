#include "core/SecureEndpoint.h"

#include <QHostAddress>

namespace secure_endpoint {

bool isThisMachine(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace secure_endpoint

QString SecureEndpoint::refusal(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("No usable service address: \"%1\"").arg(url.toString());
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {};
    if (scheme == QLatin1String("http") && secure_endpoint::isThisMachine(url.host()))
        return {};
    return QStringLiteral("Refusing to send to %1: the service must be reached over HTTPS")
        .arg(url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
}
