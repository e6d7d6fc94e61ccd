#pragma once

#include <QString>

namespace platform {
class Preferences;
}

// Where the maker's back end is reached: scheme, host and port, such as
// "http://192.0.2.10:8080"; the request paths are appended to it.
//
// The environment variable PRAVIK_BACKEND_URL wins; otherwise the setting
// "BackendBaseURL" of the standard defaults. With neither the back end is not
// configured: no request is sent and the user is told why dictation cannot
// get its credentials. Each problem is told once per run (main window and
// log), however often a mouse reconnects and the request is tried again.
class BackendAddress {
public:
    static const char* const kEnvironmentVariable; // "PRAVIK_BACKEND_URL"
    static const QString kPreferenceKey; // "BackendBaseURL"

    // Notice keys, one per problem.
    static const QString kNotConfiguredNotice;
    static const QString kInvalidNotice;
    static const QString kUnreachableNotice;

    enum class State { NotConfigured, Invalid, Usable };

    // The trimmed address without trailing slashes; empty when not configured.
    static QString configured(const platform::Preferences& defaults);
    static QString configured(); // from the standard defaults
    // Usable only for an http or https address with a host.
    static State stateOf(const QString& address);

    // Tells the user and the log what is wrong with the address, once per
    // problem; nothing for a usable address. Returns whether it is usable.
    static bool checkUsable(const QString& address);
    // A request to the back end got no reply (refused, unknown host, timed out).
    static void reportUnreachable(const QString& address, const QString& reason);
};
