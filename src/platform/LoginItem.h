#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Start at login: an XDG autostart entry "<id>.desktop" in
// <config home>/autostart that runs the program, with the environment
// assignments given ("NAME=value"). Enabling writes the entry atomically;
// disabling removes it.
class LoginItem {
public:
    LoginItem(QString configHome, QString id, QString name, QString program, QStringList environment = {});

    // $XDG_CONFIG_HOME, or ~/.config when it is unset or relative.
    static QString configHome();
    // Over the running program, in the user's configuration folder (where
    // the desktop reads it, whatever PRAVIK_HOME says); a program started
    // with PRAVIK_HOME starts at login with the same one.
    static LoginItem& shared();

    QString entryPath() const;
    bool isEnabled() const;
    // False, with the reason in error, when the entry could not be written or removed.
    bool setEnabled(bool enabled, QString* error = nullptr);

private:
    QString configHome_;
    QString id_;
    QString name_;
    QString program_;
    QStringList environment_;
};

} // namespace platform
