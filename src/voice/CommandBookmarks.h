#pragma once

#include <QString>
#include <QVariant>

#include <optional>

namespace platform {
class Preferences;
}

// The grant to open a local command target. A command's target is a "file://"
// address whose path is written out unencoded ("file:///home/me/My Notes/");
// when the user picks such a target (or the command store lists an
// application) its canonical absolute path is kept in the user defaults under
// the target text itself. Opening a "file" or "folder" command goes through
// this entry only, so a target nobody stored cannot be opened by voice, and a
// target that has since vanished opens nothing.
class CommandBookmarks {
public:
    // The path of a "file://" target: everything after "file://", which must
    // be an absolute path. Null for anything else (other schemes, a host name,
    // a relative path, a NUL character).
    static QString localPath(const QString& target);

    // Stores the canonical path of the target's file or folder under the
    // target text. When the target is not a local address or names nothing
    // that exists, an earlier entry under that text is removed and the answer
    // is false.
    static bool storeBookmark(platform::Preferences& preferences, const QString& target);
    // What storeBookmark would write under the target text: the canonical
    // path, or an invalid QVariant (remove the entry) for a local address
    // naming nothing; nothing at all for a target that is not a local address.
    static std::optional<QVariant> bookmarkEntry(const QString& target);
    // The stored path when it still names a file or folder; null otherwise
    // (no entry, an entry of another kind, a path that is gone).
    static QString resolveBookmark(const platform::Preferences& preferences, const QString& target);
};
