#include "analytics/interface/BASConnectorUtils.h"

#include "analytics/model/APMEventNames.h"

namespace bas_connector_utils {

QSet<QString> setOf(std::initializer_list<const char*> names)
{
    QSet<QString> set;
    for (const char* name : names)
        set.insert(QString::fromLatin1(name));
    return set;
}

const QString kLanguageProperty = QStringLiteral("_ln");
const QString kFirstOpenTimeProperty = QStringLiteral("_fot");

} // namespace bas_connector_utils

using bas_connector_utils::setOf;

const QSet<QString>& BASConnectorUtils::allowedListenerOrigins()
{
    static const QSet<QString> set = setOf({ "biam", "crash", "clx" });
    return set;
}

const QSet<QString>& BASConnectorUtils::blocklistedOrigins()
{
    static const QSet<QString> set
        = { APMEventNames::kAutoOrigin, APMEventNames::kAppOrigin, APMEventNames::kAdOrigin };
    return set;
}

const QSet<QString>& BASConnectorUtils::blocklistedEventNames()
{
    static const QSet<QString> set = setOf({ "_e", "_f", "_iap", "_s", "_au" });
    return set;
}

const QSet<QString>& BASConnectorUtils::blocklistedParameters()
{
    static const QSet<QString> set = setOf({ "_r", "_dbg" });
    return set;
}

const QSet<QString>& BASConnectorUtils::blocklistedUserProperties()
{
    static const QSet<QString> set = setOf({ "_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno" });
    return set;
}

const std::vector<QRegularExpression>& BASConnectorUtils::blocklistedUserPropertyPatterns()
{
    static const std::vector<QRegularExpression> patterns {
        QRegularExpression(QStringLiteral("^_ltv_[A-Z]{3}$")),
        QRegularExpression(QStringLiteral("^_cc[1-5]{1}$")),
    };
    return patterns;
}

const QSet<QString>& BASConnectorUtils::hiddenEventNames()
{
    static const QSet<QString> set = setOf({ "_xa", "_xu", "_aq", "_aa", "_ai", "_ac", "campaign_details", "_iapx", "_ug",
        "_exp_set", "_exp_clear", "_exp_activate", "_exp_timeout", "_exp_expire" });
    return set;
}

bool BASConnectorUtils::isOriginAllowed(const QString& origin)
{
    return !blocklistedOrigins().contains(origin);
}

bool BASConnectorUtils::isAppOrigin(const QString& origin)
{
    return origin == QLatin1String("app") || origin.startsWith(QLatin1String("app+"));
}

bool BASConnectorUtils::isListenerOriginAllowed(const QString& origin)
{
    return allowedListenerOrigins().contains(origin);
}

bool BASConnectorUtils::isEventNameAllowedForListeners(const QString& name)
{
    return !hiddenEventNames().contains(name);
}

bool BASConnectorUtils::shouldLogEventWithName(const QString& name, const QVariantMap& parameters)
{
    if (name.isEmpty() || blocklistedEventNames().contains(name))
        return false;
    for (const QString& parameter : blocklistedParameters()) {
        if (parameters.contains(parameter))
            return false;
    }
    return true;
}

bool BASConnectorUtils::isUserPropertyAllowed(const QString& name, const QString& origin)
{
    if (name.isEmpty())
        return false;
    if (name == bas_connector_utils::kLanguageProperty)
        return origin == QLatin1String("bcm") || origin == QLatin1String("biam");
    if (blocklistedUserProperties().contains(name))
        return false;
    for (const QRegularExpression& pattern : blocklistedUserPropertyPatterns()) {
        if (pattern.match(name).hasMatch())
            return false;
    }
    return true;
}

bool BASConnectorUtils::isUserPropertyAllowedForQuery(const QString& name)
{
    if (name.isEmpty())
        return false;
    if (name == bas_connector_utils::kFirstOpenTimeProperty)
        return true;
    return !name.startsWith(QLatin1Char('_'));
}
