#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

// An application a user can start from the desktop's menus.
struct InstalledApplication {
    QString displayName; // the entry's Name in the user's language
    QString path; // the absolute path of its desktop entry file
    QString icon; // the entry's Icon: a theme icon name or an absolute file path

    bool operator==(const InstalledApplication&) const = default;
};

// The installed applications, read from the XDG desktop entries under the
// "applications" folder of each data folder. Reading is plain file access,
// safe on any thread.
class InstalledApplications {
public:
    // $XDG_DATA_HOME (default ~/.local/share), then each folder of
    // $XDG_DATA_DIRS (default /usr/local/share and /usr/share), highest
    // precedence first; relative entries are ignored.
    static QStringList dataFolders();
    // $XDG_CURRENT_DESKTOP split at ":".
    static QStringList currentDesktops();
    // The locale that names are chosen for: $LC_ALL, $LC_MESSAGES or $LANG,
    // the first one set; empty for "C" and "POSIX".
    static QString localeName();

    // With the environment's folders, locale and desktops.
    static QList<InstalledApplication> list();
    // Entries that menus would show: Type "Application", a name, an Exec, not
    // NoDisplay or Hidden, meant for one of the current desktops (OnlyShowIn,
    // NotShowIn), whose TryExec program is present and that do not need a
    // terminal. Where two folders hold the same desktop file id, the one
    // earlier in dataFolders wins, even when it hides the application.
    // Sorted by display name, ignoring case, then by path.
    static QList<InstalledApplication> list(
        const QStringList& dataFolders, const QString& localeName, const QStringList& currentDesktops);

    // The icon as an image of at most size × size pixels (keeping its aspect),
    // from an absolute path or the "hicolor" theme and the "pixmaps" folder of
    // each data folder; a null image when none can be read.
    static QImage iconImage(const QString& icon, int size, const QStringList& dataFolders);
};

} // namespace platform
