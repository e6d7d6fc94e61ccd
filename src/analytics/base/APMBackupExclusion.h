#pragma once

#include <QString>

#include <functional>

class APMError;

// Marking a file as excluded from the user's backups. Linux desktops have no
// shared attribute for this, so the default only checks that the file exists;
// a backup tool integration, or a test, can install its own.
class APMBackupExclusion {
public:
    using Excluder = std::function<bool(const QString& path, APMError* error)>;

    // An empty function restores the default.
    static void setExcluder(Excluder excluder);
    static bool excludePath(const QString& path, APMError* error);
};

// True when the file at the path is excluded from backups; otherwise false,
// with the reason in the out-parameter when one is given.
bool APMExcludePathFromBackup(const QString& path, APMError* error);
