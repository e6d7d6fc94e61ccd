#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

namespace platform {
class Preferences;
}

// Keeps a window's frame in the user defaults under an autosave name: giving
// the name restores a frame saved earlier, and every later move or resize is
// saved again.
class WindowFrameAutosave : public QObject {
public:
    WindowFrameAutosave(QWidget* window, const QString& name, platform::Preferences& defaults);

    static QString keyForName(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void save();

    QWidget* window_;
    QString key_;
    platform::Preferences& defaults_;
    QTimer saveTimer_; // a drag moves the window many times a second
};
