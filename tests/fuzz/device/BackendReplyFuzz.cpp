// Replies of the maker's back end through the client that reads them: the
// HTTP reply reader, the reply envelope, the unscrambled credentials and
// the product information with the region defaults it sets.
//
// Input: a selector byte (its low bit picks the credentials request or the
// product-information request, the next three bits the HTTP status), then
// the reply body.

#include "FuzzTarget.h"
#include "SettledPreferences.h"
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/SHHttpManager.h"
#include "device/mmUtilities.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

namespace {

// Answers every request at once with the reply the input holds.
class ScriptedClient final : public platform::HttpClient {
public:
    platform::HttpResponse reply;
    int requests = 0;

    void send(const platform::HttpRequest&, Completion completion) override
    {
        ++requests;
        completion(reply);
    }
    platform::HttpResponse sendBlocking(const platform::HttpRequest&) override
    {
        ++requests;
        return reply;
    }
};

constexpr int kStatuses[] = { 200, 201, 204, 299, 301, 404, 500, 503 };
const QString kSerial = QStringLiteral("A1B2C3D4E5F6");
const QStringList kPreferredLanguages = { QStringLiteral("en-US") };

} // namespace

PRAVIK_FUZZ_TARGET(backend_reply)
{
    if (input.isEmpty())
        return;
    const uchar selector = static_cast<uchar>(input[0]);
    static SettledPreferences settled(QStringLiteral("backend"), [](platform::Preferences& prefs) {
        MMUserInfo user(prefs);
        KWLangManager languages(prefs, kPreferredLanguages, [&user] { return user.ipCountry(); });
    });
    platform::Preferences& prefs = settled.restore();
    MMUserInfo user(prefs);
    KWLangManager languages(prefs, kPreferredLanguages, [&user] { return user.ipCountry(); });
    ScriptedClient client;
    client.reply.status = kStatuses[(selector >> 1) & 7];
    client.reply.headers = { { "Content-Type", "application/json" } };
    client.reply.body = input.mid(1);
    SHHttpManager http(client);
    platform::NotificationCenter center;
    mmUtilities utilities(user, languages, http, center, QStringLiteral("http://127.0.0.1:9"));
    user.deviceInfo().setSn(kSerial);

    if (selector & 1)
        utilities.getProductInfoWithDeviceMacAdress(kSerial, QString());
    else
        utilities.getApiKeyWithDeviceMacAdress(kSerial);
    if (client.requests != 1)
        fuzz::fail("expected one request, saw %d", client.requests);
}
