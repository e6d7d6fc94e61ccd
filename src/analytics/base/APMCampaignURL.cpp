#include "analytics/base/APMCampaignURL.h"

#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMMonitor.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

const QString APMCampaignURL::kDeepLinkKey = QStringLiteral("deeplink");
const QString APMCampaignURL::kTimestampKey = QStringLiteral("timestamp");

namespace {

bool hasTextValue(const QVariantMap& query, const QString& key)
{
    const auto it = query.constFind(key);
    return it != query.constEnd() && it->typeId() == QMetaType::QString && !it->toString().isEmpty();
}

} // namespace

const QList<QPair<QString, QString>>& APMCampaignURL::campaignParameterMap()
{
    static const QList<QPair<QString, QString>> map {
        { QStringLiteral("aclid"), QStringLiteral("aclid") },
        { QStringLiteral("anid"), QStringLiteral("anid") },
        { QStringLiteral("utm_campaign"), QStringLiteral("campaign") },
        { QStringLiteral("cis"), QStringLiteral("_cis") },
        { QStringLiteral("utm_content"), QStringLiteral("content") },
        { QStringLiteral("cp1"), QStringLiteral("cp1") },
        { QStringLiteral("dclid"), QStringLiteral("dclid") },
        { QStringLiteral("vclid"), QStringLiteral("vclid") },
        { QStringLiteral("vbraid"), QStringLiteral("vbraid") },
        { QStringLiteral("utm_medium"), QStringLiteral("medium") },
        { QStringLiteral("utm_source"), QStringLiteral("source") },
        { QStringLiteral("srsltid"), QStringLiteral("srsltid") },
        { QStringLiteral("utm_term"), QStringLiteral("term") },
        { QStringLiteral("utm_id"), QStringLiteral("campaign_id") },
        { QStringLiteral("utm_creative_format"), QStringLiteral("creative_format") },
        { QStringLiteral("utm_marketing_tactic"), QStringLiteral("marketing_tactic") },
        { QStringLiteral("utm_source_platform"), QStringLiteral("source_platform") },
        { QStringLiteral("sfmc_id"), QStringLiteral("sfmc_id") },
    };
    return map;
}

const QStringList& APMCampaignURL::requiredKeys()
{
    static const QStringList keys { QStringLiteral("utm_campaign"), QStringLiteral("vclid"),
        QStringLiteral("utm_medium"), QStringLiteral("utm_source"), QStringLiteral("vbraid"), QStringLiteral("utm_id"),
        QStringLiteral("dclid"), QStringLiteral("srsltid"), QStringLiteral("sfmc_id") };
    return keys;
}

const QStringList& APMCampaignURL::clickIdentifierParameters()
{
    static const QStringList names { QStringLiteral("vclid"), QStringLiteral("dclid"), QStringLiteral("srsltid") };
    return names;
}

QVariantMap APMCampaignURL::queryParameters(const QUrl& url)
{
    if (!url.hasQuery())
        return {};
    return apm_dictionaryWithHttpArgumentsString(url.query(QUrl::FullyEncoded));
}

bool APMCampaignURL::isValidCampaignURLParamDictionary(const QVariantMap& query)
{
    for (const QString& key : requiredKeys()) {
        if (hasTextValue(query, key))
            return true;
    }
    return false;
}

QVariantMap APMCampaignURL::campaignParameters(const QVariantMap& query)
{
    QVariantMap parameters;
    for (const auto& [key, parameter] : campaignParameterMap()) {
        if (hasTextValue(query, key))
            parameters.insert(parameter, query.value(key));
    }
    return parameters;
}

std::optional<QVariantMap> APMCampaignURL::deepLinkInfoFromResponseData(const QByteArray& data, APMMonitor& monitor)
{
    if (data.isEmpty()) {
        monitor.logWithLevel(
            APMMonitor::kLevelVerbose, 23201, QStringLiteral("Deferred Deep Link response is empty"));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23202,
            QStringLiteral("Failed to parse Deferred Deep Link from JSON. Error"), error.errorString());
        return std::nullopt;
    }
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue link = document.object().value(kDeepLinkKey);
    if (!link.isString())
        return std::nullopt;
    const QUrl url(link.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.toString().isEmpty())
        return std::nullopt;
    return document.object().toVariantMap();
}
