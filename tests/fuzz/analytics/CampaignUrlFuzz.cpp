// An address the application was opened with, and a deferred deep-link
// reply: both come from outside. Whatever they hold, the campaign reading
// gives known parameters with the query's own non-empty values, or nothing.
//
// Input: the address text, a newline, then the reply body.

#include "FuzzTarget.h"
#include "analytics/base/APMCampaignURL.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMLibrary.h"

#include <QSet>

namespace {

void checkCampaignOf(const QUrl& url)
{
    const QVariantMap query = APMCampaignURL::queryParameters(url);
    const QVariantMap parameters = APMCampaignURL::campaignParameters(query);
    QSet<QString> known;
    for (const auto& [key, parameter] : APMCampaignURL::campaignParameterMap()) {
        known.insert(parameter);
        if (parameters.contains(parameter) && parameters.value(parameter) != query.value(key))
            fuzz::fail("parameter %s is not the value of %s", qPrintable(parameter), qPrintable(key));
    }
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (!known.contains(it.key()))
            fuzz::fail("unknown parameter %s", qPrintable(it.key()));
        if (it->toString().isEmpty())
            fuzz::fail("empty value for %s", qPrintable(it.key()));
    }
    if (APMCampaignURL::isValidCampaignURLParamDictionary(query) && parameters.isEmpty())
        fuzz::fail("a campaign without parameters");
}

} // namespace

PRAVIK_FUZZ_TARGET(campaign_url)
{
    const qsizetype newline = input.indexOf('\n');
    const QByteArray address = newline < 0 ? input : input.left(newline);
    const QByteArray reply = newline < 0 ? QByteArray() : input.mid(newline + 1);

    const QString text = QString::fromUtf8(address);
    checkCampaignOf(QUrl(text));
    checkCampaignOf(QUrl(text, QUrl::StrictMode));
    checkCampaignOf(QUrl::fromEncoded(address));
    // The query reader on its own, with text no address parser cleaned up.
    const QVariantMap pairs = apm_dictionaryWithHttpArgumentsString(text);
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it) {
        if (it->typeId() != QMetaType::QString || it->toString().isNull())
            fuzz::fail("a pair without a text value");
    }

    if (const auto info = APMCampaignURL::deepLinkInfoFromResponseData(reply, APMLibrary::monitor())) {
        const QUrl link(info->value(APMCampaignURL::kDeepLinkKey).toString());
        if (!link.isValid() || link.isRelative())
            fuzz::fail("a deep link that is not an absolute address");
    }
}
