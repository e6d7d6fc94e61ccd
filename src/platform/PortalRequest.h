#pragma once

#include <QDBusConnection>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace platform {

// One call of a desktop-portal method whose answer comes later as the
// Response signal of a request object. The request's path is known before
// the call (it is made of the caller's bus name and the handle token), so
// the answer cannot arrive before anyone listens. The call waits in a local
// event loop.
class PortalRequest {
public:
    static const QString kService; // "org.freedesktop.portal.Desktop"
    static const QString kPath; // "/org/freedesktop/portal/desktop"

    // A fresh handle token: letters, digits and underscores.
    static QString newToken();
    // Whether the bus has the portal, running or activatable.
    static bool portalPresent(const QDBusConnection& bus);

    // The results of a response with code 0; nothing for any other code, an
    // error reply or no answer within the time. The arguments must carry
    // the token as "handle_token" in their options.
    static std::optional<QVariantMap> call(const QDBusConnection& bus, const QString& interface,
        const QString& method, const QVariantList& arguments, const QString& token, int timeoutMs);
};

} // namespace platform
