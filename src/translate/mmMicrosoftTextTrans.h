#pragma once

#include "platform/HttpClient.h"

#include <QString>

#include <functional>
#include <optional>

class MMUserInfo;
class mmApiKeyItem;

// The overseas text-translation client: one POST that carries a text and a
// target language and returns the first translation. The address and the
// subscription key come from the device's credentials (azure_translate_url,
// azure_translate_key); the source language is not sent, the service
// detects it. Callers may create an instance per request and let it go at
// once: a request in flight does not depend on it.
class mmMicrosoftTextTrans {
public:
    // Called exactly once, on the main thread: success true with the
    // translation (possibly empty); false with what went wrong: the
    // transport's error text, kServiceErrorFormat filled with the service's
    // error code and message, or a description of an unusable reply.
    using Callback = std::function<void(bool success, const QString& text)>;

    static const QString kAddressFormat;
    static const QString kRegion;
    static const QString kServiceErrorFormat;
    static const QString kUnexpectedReply;
    static const QString kNoAddress;
    // The whole exchange, connection included.
    static constexpr double kTimeoutSeconds = 60;

    // Over the shared settings.
    mmMicrosoftTextTrans();
    explicit mmMicrosoftTextTrans(const MMUserInfo& user, double timeoutSeconds = kTimeoutSeconds);

    // from is not used: the service detects the source language. to is a
    // code of the service (see translatorTargetCode).
    void textTranslationWithFromLang(
        const QString& from, const QString& to, const QString& text, Callback callback) const;

    // The service's code for a target code of the language lists
    // (StringCoding::translatorTargetCode).
    static QString translatorTargetCode(const QString& code);

    // The request for the credentials, or nullopt when their address is
    // missing or not allowed (SecureEndpoint).
    static std::optional<platform::HttpRequest> request(
        const mmApiKeyItem& keys, const QString& to, const QString& text, double timeoutSeconds);
    // What a reply comes to: (true, translation) or (false, what went wrong).
    static std::pair<bool, QString> readReply(const platform::HttpResponse& response);

private:
    const MMUserInfo& user_;
    double timeoutSeconds_;
};
