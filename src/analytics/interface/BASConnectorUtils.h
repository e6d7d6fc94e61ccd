#pragma once

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <vector>

// What other libraries of the platform may log, set and hear through the
// connector.
class BASConnectorUtils {
public:
    static const QSet<QString>& allowedListenerOrigins();
    static const QSet<QString>& blocklistedOrigins();
    static const QSet<QString>& blocklistedEventNames();
    static const QSet<QString>& blocklistedParameters();
    static const QSet<QString>& blocklistedUserProperties();
    static const std::vector<QRegularExpression>& blocklistedUserPropertyPatterns();
    static const QSet<QString>& hiddenEventNames();

    static bool isOriginAllowed(const QString& origin);
    // "app", or "app" followed by "+" and more.
    static bool isAppOrigin(const QString& origin);
    static bool isListenerOriginAllowed(const QString& origin);
    static bool isEventNameAllowedForListeners(const QString& name);
    static bool shouldLogEventWithName(const QString& name, const QVariantMap& parameters);
    static bool isUserPropertyAllowed(const QString& name, const QString& origin);
    static bool isUserPropertyAllowedForQuery(const QString& name);
};
