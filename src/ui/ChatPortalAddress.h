#pragma once

#include <QString>
#include <QUrl>

namespace platform {
class Preferences;
}

// Where the AI-assistant portal is reached: its origin, such as
// "https://assistant.example". The environment variable
// PRAVIK_CHAT_PORTAL_URL wins; otherwise the setting "ChatPortalURL" of the
// standard defaults. With neither the chat window says the portal is not
// configured, and the user is told once per run.
class ChatPortalAddress {
public:
    static const char* const kEnvironmentVariable; // "PRAVIK_CHAT_PORTAL_URL"
    static const QString kPreferenceKey; // "ChatPortalURL"
    static const QString kNotConfiguredNotice;

    // The trimmed origin without trailing slashes; empty when not configured.
    static QString configured(const platform::Preferences& defaults);
    static QString configured();
    // Tells the user, once, that no portal is configured.
    static void reportNotConfigured();

    // The chat page of a device: the origin, "/" in the mainland region (a
    // country code containing "cn") or "/id/" elsewhere, and the query
    // "serialstring=SN&customer=zorvane&openkey=KEY" with both values
    // percent-encoded.
    static QUrl pageAddress(const QString& origin, const QString& country, const QString& serial, const QString& openKey);
};
