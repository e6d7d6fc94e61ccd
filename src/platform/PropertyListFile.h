#pragma once

#include <QString>
#include <QVariantMap>

namespace platform {

// A dictionary kept in a property-list file: the preferences suites and the
// analytics key-value stores read their files through here, so a damaged
// file is handled the same way everywhere.
class PropertyListFile {
public:
    // Reads the dictionary in the file, XML or binary. A missing file is an
    // empty dictionary, and so is a folder in its place (left where it is).
    // A file that cannot be opened, is not a property list, holds a value
    // that could not be written back, or has no dictionary at the top is
    // renamed to "<file>.damaged-<UTC time>" beside it (with "-2", "-3", ...
    // when that name is taken: an earlier copy is never replaced), logged
    // with its path and the reason, and the user is told once; the result is
    // then empty, so the caller starts afresh and its next write creates a
    // new file.
    static QVariantMap readDictionary(const QString& path);
};

} // namespace platform
