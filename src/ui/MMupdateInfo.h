#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class MMUserInfo;
class SHHttpManager;

// One check of the back end for a newer version of the application. Made
// anew for every check; it may go away before its callback runs.
//
// The reply's "data" → "ver" and "data" → "url" are stored in the shared
// state (neewVersion, updateURL) whatever the outcome. Versions are dotted
// decimal numbers, white space around them aside (a reply's "1.2.3\n" is
// "1.2.3"), compared part by part, numerically, the shorter padded with
// zeros. A transport failure, an HTTP error, a reply that is not JSON,
// a missing "ver" or a "ver" that is not a version are Unknown, never Newer.
// A newer version the user chose to skip (jumpVersion) is NotNewer.
class MMupdateInfo {
public:
    enum class Outcome { Newer, NotNewer, Unknown };

    static const QString kUpdatePath; // "/api/system/v1/setAppUpdate?fr_id=31"

    // What a reply comes to.
    struct Reply {
        QString ver; // null when absent or not text
        QString url; // null when absent or not text
    };

    // Uses the shared settings, HTTP wrapper and back-end address.
    MMupdateInfo();
    MMupdateInfo(MMUserInfo& user, SHHttpManager& http, QString backendBaseUrl, QString myVersion);

    // The application's own version.
    QString myVersion() const { return myVersion_; }

    // Runs the check; the callback runs once, on the main thread.
    void checkVersion(std::function<void(Outcome)> callback);
    // The same, told only whether an update should be offered.
    void checkVersionCallback(std::function<void(bool newer)> callback);

    // YES when the server's version is newer than the application's; NO also
    // when either is not a version.
    bool compareVersionWithServerVersin(const QString& serverVersion) const;

    // -1 when local is older than server, 0 when equal, 1 when newer;
    // nullopt when either text, white space around it aside, is not a dotted
    // decimal version.
    static std::optional<int> compareVersions(const QString& local, const QString& server);
    // "data" → "ver" and "url" of a reply read as JSON; members of the wrong
    // kind count as absent.
    static Reply parseReply(const QVariant& json);
    // The outcome of a reply for the given own and skipped versions.
    static Outcome outcomeFor(const Reply& reply, const QString& myVersion, const QString& jumpVersion);

private:
    MMUserInfo& user_;
    SHHttpManager& http_;
    QString backendBaseUrl_;
    QString myVersion_;
};
