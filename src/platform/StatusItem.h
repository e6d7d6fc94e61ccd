#pragma once

#include <QIcon>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

struct StatusMenuEntry {
    QString title;
    QString keyEquivalent;
    std::function<void()> action;
};

// One icon in the desktop's status area (system tray) with its menu.
// Destroying the item removes it from the status area.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setHighlighted(bool highlighted) = 0;
    virtual void setMenu(const QList<StatusMenuEntry>& entries) = 0;
    // Shown when the pointer rests on the icon.
    virtual void setToolTip(const QString& text) = 0;
    // Run on a plain (left) click of the icon; the menu stays on the right button.
    virtual void setPrimaryAction(std::function<void()> action) = 0;
};

// The status area. The Qt backend uses QSystemTrayIcon; where the session
// has no tray the null backend hands out items that show nothing
// (isAvailable() answers false so the application can say so).
class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual bool isAvailable() const = 0;
    virtual std::unique_ptr<StatusItem> newStatusItem() = 0;

    // Picks the backend: PRAVIK_STATUSITEM=qt|null overrides the probe.
    static std::unique_ptr<StatusBar> create();
};

} // namespace platform
