#include "analytics/model/APMUserPropertyNames.h"

const QHash<QString, QString>& APMPublicToInternalUserPropertyNames()
{
    static const QHash<QString, QString> names = {
        { QStringLiteral("basalt_last_notification"), QStringLiteral("_ln") },
        { QStringLiteral("first_open_after_install"), QStringLiteral("_fi") },
        { QStringLiteral("first_open_time"), QStringLiteral("_fot") },
        { QStringLiteral("va_session_id"), QStringLiteral("_sid") },
        { QStringLiteral("va_session_number"), QStringLiteral("_sno") },
        { QStringLiteral("last_advertising_id_reset"), QStringLiteral("_lair") },
        { QStringLiteral("last_deep_link_referrer"), QStringLiteral("_ldl") },
        { QStringLiteral("lifetime_user_engagement"), QStringLiteral("_lte") },
        { QStringLiteral("session_user_engagement"), QStringLiteral("_se") },
        { QStringLiteral("user_id"), QStringLiteral("_id") },
    };
    return names;
}
