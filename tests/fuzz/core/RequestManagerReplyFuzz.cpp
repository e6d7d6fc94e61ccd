// Replies to the request manager: a scene reply read by its result code, and
// a Baidu translation reply. Neither may crash, and a reply whose code says
// it failed is never a success.
//
// Input: a first byte that picks the reader (even: scene, odd: Baidu), then
// the reply body.

#include "FuzzTarget.h"
#include "core/UWHttpRequestManager.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace request_manager_fuzz {

class CodedScene final : public UWNetBaseScene {
public:
    UWResultBackType resultBackType() const override { return UWResultBackType::ResultCode; }
};

} // namespace request_manager_fuzz

PRAVIK_FUZZ_TARGET(request_manager_reply)
{
    if (input.isEmpty())
        return;
    const QByteArray body = input.mid(1);
    if ((static_cast<unsigned char>(input[0]) & 1) == 0) {
        platform::HttpResponse response;
        response.status = 200;
        response.body = body;
        const request_manager_fuzz::CodedScene scene;
        const auto outcome = UWHttpRequestManager::sceneOutcome(scene, response);
        if (!outcome)
            fuzz::fail("a scene with a result code gave no answer");
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        bool numeric = false;
        const qint64 code = object.value(QStringLiteral("rc")).toVariant().toLongLong(&numeric);
        if (outcome->success && object.contains(QStringLiteral("rc")) && numeric && code != 0)
            fuzz::fail("a reply with result code %lld was a success", static_cast<long long>(code));
        return;
    }
    const UWHttpRequestManager::BaiduOutcome outcome = UWHttpRequestManager::baiduReply(body);
    if (outcome.text.isNull())
        fuzz::fail("a Baidu reply gave a null text");
    if (outcome.success && !QJsonDocument::fromJson(body).object().contains(QStringLiteral("trans_result")))
        fuzz::fail("a Baidu reply without trans_result was a success");
}
