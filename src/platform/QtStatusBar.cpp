#include "platform/StatusItem.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace platform {
namespace {

class QtStatusItem final : public StatusItem {
public:
    QtStatusItem()
    {
        tray_.setContextMenu(&menu_);
        QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_, [this](QSystemTrayIcon::ActivationReason reason) {
            // Trigger is the plain click; a double click starts with one as well.
            if (reason == QSystemTrayIcon::Trigger && primaryAction_)
                primaryAction_();
        });
        tray_.show();
    }
    ~QtStatusItem() override { tray_.hide(); }

    void setIcon(const QIcon& icon) override { tray_.setIcon(icon); }
    void setHighlighted(bool) override {} // trays draw their own highlight
    void setToolTip(const QString& text) override { tray_.setToolTip(text); }
    void setPrimaryAction(std::function<void()> action) override { primaryAction_ = std::move(action); }
    void setMenu(const QList<StatusMenuEntry>& entries) override
    {
        menu_.clear();
        for (const auto& entry : entries) {
            QAction* action = menu_.addAction(entry.title);
            if (!entry.keyEquivalent.isEmpty())
                action->setShortcut(QKeySequence(entry.keyEquivalent));
            auto callback = entry.action;
            QObject::connect(action, &QAction::triggered, action, [callback] {
                if (callback)
                    callback();
            });
        }
    }

private:
    QMenu menu_;
    QSystemTrayIcon tray_;
    std::function<void()> primaryAction_;
};

class QtStatusBar final : public StatusBar {
public:
    bool isAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    std::unique_ptr<StatusItem> newStatusItem() override { return std::make_unique<QtStatusItem>(); }
};

class NullStatusItem final : public StatusItem {
public:
    void setIcon(const QIcon&) override {}
    void setHighlighted(bool) override {}
    void setMenu(const QList<StatusMenuEntry>&) override {}
    void setToolTip(const QString&) override {}
    void setPrimaryAction(std::function<void()>) override {}
};

class NullStatusBar final : public StatusBar {
public:
    bool isAvailable() const override { return false; }
    std::unique_ptr<StatusItem> newStatusItem() override { return std::make_unique<NullStatusItem>(); }
};

} // namespace

std::unique_ptr<StatusBar> StatusBar::create()
{
    const QString choice = qEnvironmentVariable("PRAVIK_STATUSITEM");
    if (choice == QLatin1String("null"))
        return std::make_unique<NullStatusBar>();
    if (choice == QLatin1String("qt") || QSystemTrayIcon::isSystemTrayAvailable())
        return std::make_unique<QtStatusBar>();
    return std::make_unique<NullStatusBar>();
}

} // namespace platform
