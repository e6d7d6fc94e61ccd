#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Puts the application into the desktop's menus and launchers: an XDG
// desktop entry "<id>.desktop" in <data home>/applications and its icon
// "<id>.png" in the hicolor theme under <data home>/icons, in the folder
// named after the icon's size. Each file is rewritten only when its content
// differs from what this program would write (it moved, the icon changed),
// so a start with nothing new writes nothing.
class DesktopEntryInstaller {
public:
    struct Launcher {
        QString id; // file and icon name, e.g. "pravik"
        QString name;
        QString comment;
        QString program; // absolute path of the executable
        QString iconSource; // a square image file (PNG)
        QStringList categories;
    };
    enum class Result { UpToDate, Installed, Failed };

    // $XDG_DATA_HOME, or ~/.local/share when it is unset or relative.
    static QString dataHome();
    // The entry's text; empty when the program path or an environment
    // assignment cannot be written in an Exec line (it holds a line break).
    // Assignments ("NAME=value") are set for the program through env(1).
    static QByteArray entryText(const Launcher& launcher, const QStringList& environment = {});
    static QString entryPath(const QString& dataHome, const QString& id);

    // Installs into dataHome; on Failed, error receives the reason.
    static Result install(const Launcher& launcher, const QString& dataHome, QString* error = nullptr);
};

} // namespace platform
