#pragma once

#include <QString>

class APMError;

// Where the analytics library keeps its files. All of them lie in the
// application's Application Support folder under "Vireo/Measurement"; the
// preferences suites of former versions lie in the preferences folder. Each
// function answers the empty string when there is no such location.

// The library folder followed by the name; "" for an empty name.
QString APMApplicationSupportPath(const QString& name);
// The same with ".plist" appended unless the name already ends in it.
QString APMApplicationSupportPlistPath(const QString& name);
// The preferences file of the suite of that name; "" for an empty name.
QString APMPreferencesPlistPath(const QString& name);
// Removes the file or folder at the path. False, with the reason in the
// out-parameter, for an empty path or when it cannot be removed.
bool APMDeleteFileAtPath(const QString& path, APMError* error);
