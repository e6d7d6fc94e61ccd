// Replies of the two recognition services (the image service read whole and
// per region).
//
// Input: a byte that picks the HTTP status, then the reply body.

#include "FuzzTarget.h"
#include "translate/MMMicrosoftOCRRecognition.h"
#include "translate/XunfeiDocumentOcr.h"

#include <algorithm>

namespace {

constexpr int kOcrFuzzStatuses[] = { 200, 200, 200, 201, 400, 401, 429, 500 };

platform::HttpResponse ocrFuzzResponse(const QByteArray& input)
{
    platform::HttpResponse reply;
    if (input.isEmpty())
        return reply;
    reply.status = kOcrFuzzStatuses[static_cast<uchar>(input[0]) % std::size(kOcrFuzzStatuses)];
    reply.body = input.mid(1);
    return reply;
}

// A success always carries text: an empty one would show as a result.
void checkOcrResult(const OcrResult& result, const char* service)
{
    if (result.ok && result.text.isEmpty())
        fuzz::fail("%s: success without text", service);
    if (!result.ok && result.text.isEmpty())
        fuzz::fail("%s: failure without a reason", service);
}

} // namespace

PRAVIK_FUZZ_TARGET(ocr_document)
{
    checkOcrResult(XunfeiDocumentOcr::readFromResponseDic(ocrFuzzResponse(input)), "document");
}

PRAVIK_FUZZ_TARGET(ocr_image)
{
    checkOcrResult(MMMicrosoftOCRRecognition::readReply(ocrFuzzResponse(input)), "image");
}

PRAVIK_FUZZ_TARGET(ocr_image_regions)
{
    const QList<OcrResult> results = MMMicrosoftOCRRecognition::readReply222(ocrFuzzResponse(input));
    if (results.isEmpty())
        fuzz::fail("image regions: no answer at all");
    for (const OcrResult& result : results)
        checkOcrResult(result, "image regions");
    if (results.size() > 1 && !std::all_of(results.begin(), results.end(), [](const OcrResult& r) { return r.ok; }))
        fuzz::fail("image regions: a failure among the regions");
}
