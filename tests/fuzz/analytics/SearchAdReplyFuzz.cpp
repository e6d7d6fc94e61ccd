// Replies of the search-ad attribution service, as the reporter reads them.
//
// Input: a status selector byte, then the reply body.

#include "FuzzTarget.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "platform/HttpClient.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kSearchAdFuzzStatuses[] = { 200, 200, 200, 204, 304, 404, 429, 500, 503, 0 };

} // namespace

PRAVIK_FUZZ_TARGET(search_ad_reply)
{
    if (input.isEmpty())
        return;
    platform::HttpResponse response;
    response.status = kSearchAdFuzzStatuses[uchar(input[0]) % std::size(kSearchAdFuzzStatuses)];
    if (response.status == 0)
        response.error = platform::HttpResponse::Error::Transport;
    response.body = input.mid(1);
    using Kind = APMSearchAdReporter::AttributionReply::Kind;
    const APMSearchAdReporter::AttributionReply reply = APMSearchAdReporter::attributionReplyFromResponse(response);
    const bool success = response.error == platform::HttpResponse::Error::None && response.status >= 200
        && response.status <= 299;
    if (!success && reply.kind != Kind::Failed)
        fuzz::fail("status %d read as an answer", response.status);
    if (reply.kind == Kind::Answer || reply.kind == Kind::TestData) {
        // Only a JSON object with its verdict is an answer.
        const QJsonDocument document = QJsonDocument::fromJson(response.body);
        if (!document.isObject() || !document.object().contains(QStringLiteral("attribution")))
            fuzz::fail("a reply without a verdict read as an answer");
    }
    if (reply.kind != Kind::Answer && (reply.attributed || !reply.term.isEmpty()))
        fuzz::fail("a reply that is no answer carries a verdict");
}
