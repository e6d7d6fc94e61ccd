#pragma once

#include <QString>
#include <QStringList>

// Whether the application's folders take files. A home that cannot be
// written (read-only, full, owned by someone else) is told to the user once,
// as one notice, rather than as a failure of each file written there.
class StorageCheck {
public:
    static const QString kNoticeKey; // one key for every folder: the user needs to hear it once

    // Writes and removes a small file in each folder, in order; tells the
    // user about the first one that refuses. True when all took the file.
    static bool checkFolders(const QStringList& folders);
    // Tells the user (once per run) and the log that folder cannot be written.
    static void reportUnwritable(const QString& folder, const QString& reason);
};
