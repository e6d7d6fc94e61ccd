#pragma once

#include <QString>
#include <QUrl>

// Where a client may send a text and its credentials:
// HTTPS to any host (certificates and host names are verified by the HTTP
// client), plain HTTP only to this machine, for local test doubles.
// Addresses come from the back end and from the environment, so they are
// checked before every request.
class SecureEndpoint {
public:
    // Why a request must not go to the address; a null text when it may.
    static QString refusal(const QUrl& url);
};
