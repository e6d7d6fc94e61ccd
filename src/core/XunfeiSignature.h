#pragma once

#include <QString>
#include <QUrl>

// The HTTP signing scheme of the mainland cloud services: the host as the
// signature names it, and the authorization text that carries the HMAC.
class XunfeiSignature {
public:
    // The host name, bracketed when it is an IPv6 address, with the port
    // when the address gives one.
    static QString hostField(const QUrl& url);
    // api_key="…", algorithm="hmac-sha256", headers="…", signature="…".
    static QString authorization(
        const QString& apiKey, const QString& signedHeaders, const QString& signature);

    // "hmac-sha256".
    static QString algorithm();
};
