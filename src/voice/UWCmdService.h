#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace platform {
class Preferences;
}

// Opens the target of a matched voice command through the desktop
// (platform::Workspace): a local file, folder or application through the
// bookmark kept for it (CommandBookmarks), anything else as a web address.
class UWCmdService {
public:
    // The types that open a local target; every other type, the empty text
    // included, is a web address.
    static inline const QString kFileType = QStringLiteral("file");
    static inline const QString kFolderType = QStringLiteral("folder");

    // Reads bookmarks from the standard user defaults.
    static UWCmdService& sharedUWCmdService();

    // Reads bookmarks from the given defaults, or from the standard user
    // defaults of the moment when none is given.
    explicit UWCmdService(platform::Preferences* preferences = nullptr);
    UWCmdService(const UWCmdService&) = delete;
    UWCmdService& operator=(const UWCmdService&) = delete;

    // True when the target was handed to the desktop and the desktop took it.
    // False for a null target, a local target without a bookmark or whose
    // file or folder is gone, and a web address that does not form an
    // http(s) address with a host.
    bool openFileWithCmdPath(const QString& path, const QString& cmdType);

    // The address a web target opens: "http://" in front unless it starts with
    // "http://" or "https://" (in any letter case); every character outside
    // the characters allowed in a URL query percent-encoded as UTF-8, while
    // "%" escapes already present are kept. nullopt when the result is not an
    // http or https address with a host.
    static std::optional<QUrl> webAddress(const QString& target);

private:
    platform::Preferences& preferences() const;

    platform::Preferences* preferences_;
};
