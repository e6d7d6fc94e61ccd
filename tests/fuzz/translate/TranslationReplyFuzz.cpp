// Replies of the two machine-translation services.
//
// Input: a byte that picks the HTTP status, then the reply body.

#include "FuzzTarget.h"
#include "core/HLBaseResponse.h"
#include "core/HLHttpManager.h"
#include "translate/HLMachineTranslationRequest.h"
#include "translate/mmMicrosoftTextTrans.h"

namespace {

constexpr int kStatuses[] = { 200, 201, 204, 299, 400, 401, 429, 500 };

platform::HttpResponse response(const QByteArray& input)
{
    platform::HttpResponse reply;
    if (input.isEmpty())
        return reply;
    reply.status = kStatuses[static_cast<uchar>(input[0]) % std::size(kStatuses)];
    reply.headers = { { "Content-Type", "application/json" } };
    reply.body = input.mid(1);
    return reply;
}

} // namespace

// The mainland service: the shared JSON reply reader, then the translation.
PRAVIK_FUZZ_TARGET(translation_mainland)
{
    const platform::HttpResponse reply = response(input);
    if (const std::optional<HttpFailure> failure = HttpFailure::fromResponse(reply)) {
        (void)HLBaseResponse::integerValue(failure->reply.toMap().value(QStringLiteral("code")));
        return;
    }
    const std::optional<QVariant> json = HLBaseResponse::parseJson(reply.body);
    if (!json)
        return;
    const HLMachineTranslationRequest::Outcome outcome
        = HLMachineTranslationRequest::transResultParseWithDic(*json);
    if (outcome.failed && outcome.text.isEmpty())
        fuzz::fail("a failed translation says nothing about why");
}

// The overseas service reads its replies itself.
PRAVIK_FUZZ_TARGET(translation_overseas)
{
    const auto [success, text] = mmMicrosoftTextTrans::readReply(response(input));
    if (!success && text.isEmpty())
        fuzz::fail("a failed translation says nothing about why");
}
