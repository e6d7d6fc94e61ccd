#pragma once

#include "platform/StatusItem.h"

#include <vector>

namespace fakes {

// Records the items it hands out; an item's record says whether it is still
// shown (alive), its menu and its icon.
class FakeStatusBar final : public platform::StatusBar {
public:
    struct Record {
        bool alive = true;
        bool highlighted = false;
        bool hasIcon = false;
        QList<platform::StatusMenuEntry> menu;
        QString toolTip;
        std::function<void()> primaryAction;
    };

    // available: whether the session has a tray (the items are recorded either way).
    explicit FakeStatusBar(bool available = true)
        : available_(available)
    {
    }
    bool isAvailable() const override { return available_; }
    std::unique_ptr<platform::StatusItem> newStatusItem() override;

    const std::vector<std::shared_ptr<Record>>& items() const { return items_; }
    int aliveCount() const;

private:
    bool available_;
    std::vector<std::shared_ptr<Record>> items_;
};

} // namespace fakes
