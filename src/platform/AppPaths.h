#pragma once

#include <QString>

namespace platform {

// Where the application keeps its files. All of it is private to the
// application, never the user's own Documents folder.
//   documents()          $XDG_DATA_HOME/pravik/Documents (logs, recordings, database)
//   applicationSupport() $XDG_DATA_HOME/pravik/Application Support
//   preferences()        $XDG_CONFIG_HOME/pravik
// PRAVIK_HOME, when set, replaces the roots: $PRAVIK_HOME/Documents,
// $PRAVIK_HOME/Application Support and $PRAVIK_HOME/Preferences.
// Each accessor creates its folder when it is missing.
class AppPaths {
public:
    static QString documents();
    static QString applicationSupport();
    static QString preferences();

    // With PRAVIK_HOME set, the toolkit's own settings (the file dialogs'
    // last folder and view, "QtProject.conf") go to the preferences folder
    // too, so nothing is written outside it. Call before any dialog opens.
    static void keepToolkitSettingsInPreferences();
    // PRAVIK_HOME as an absolute path; empty when it is not set.
    static QString pravikHome();

    // True when path lies inside root (after resolving "." and ".."); the
    // root itself does not count.
    static bool isInside(const QString& path, const QString& root);

private:
    static QString dataRoot();
    static QString ensured(const QString& path);
};

} // namespace platform
