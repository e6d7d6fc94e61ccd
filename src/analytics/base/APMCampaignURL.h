#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <optional>

class APMMonitor;

// Reading campaign addresses and deferred deep-link replies. Both come from
// outside (a link anyone may craft, a server reply): any query, of any length
// and encoding, gives the campaign parameters below or nothing.
class APMCampaignURL {
public:
    // Query key to event parameter name, for every key a campaign may carry.
    static const QList<QPair<QString, QString>>& campaignParameterMap();
    // A query is a campaign only when one of these has a non-empty value.
    static const QStringList& requiredKeys();
    // The click identifiers dropped when click identifiers are not allowed.
    static const QStringList& clickIdentifierParameters();

    // The pairs of the address's query, "+" and percent escapes decoded
    // (a pair that does not decode reads as empty).
    static QVariantMap queryParameters(const QUrl& url);
    // Whether a required key has a non-empty text value.
    static bool isValidCampaignURLParamDictionary(const QVariantMap& query);
    // Every campaign key with a non-empty text value, under its parameter name.
    static QVariantMap campaignParameters(const QVariantMap& query);

    // A deferred deep-link reply: its JSON object when that holds a
    // "deeplink" text that is a valid absolute address; nothing otherwise
    // (an empty reply logs level 8, code 23201; one that is not JSON
    // level 1, code 23202).
    static std::optional<QVariantMap> deepLinkInfoFromResponseData(const QByteArray& data, APMMonitor& monitor);
    static const QString kDeepLinkKey; // "deeplink"
    static const QString kTimestampKey; // "timestamp"
};
