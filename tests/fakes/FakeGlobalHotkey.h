#pragma once

#include "platform/GlobalHotkey.h"

#include <QList>

#include <optional>

namespace fakes {

// Records each registration; press() delivers the registered key's action
// as a grab would. Combinations in taken() are refused as held by another
// program.
class FakeGlobalHotkey final : public platform::GlobalHotkey {
public:
    bool isAvailable() const override { return available_; }
    Result registerHotkey(const platform::Hotkey& hotkey, Action action) override
    {
        registrations_.append(hotkey);
        action_ = nullptr;
        current_.reset();
        if (!available_)
            return Result::NotAvailable;
        if (taken_.contains(hotkey))
            return Result::Taken;
        current_ = hotkey;
        action_ = std::move(action);
        return Result::Registered;
    }
    void unregisterHotkey() override
    {
        current_.reset();
        action_ = nullptr;
    }

    void setAvailable(bool available) { available_ = available; }
    void setTaken(const QList<platform::Hotkey>& taken) { taken_ = taken; }
    QList<platform::Hotkey> registrations() const { return registrations_; }
    std::optional<platform::Hotkey> current() const { return current_; }
    // The user presses this combination; false when nothing is bound to it.
    bool press(const platform::Hotkey& hotkey)
    {
        if (!current_ || *current_ != hotkey || !action_)
            return false;
        const Action action = action_;
        action();
        return true;
    }

private:
    bool available_ = true;
    QList<platform::Hotkey> taken_;
    QList<platform::Hotkey> registrations_;
    std::optional<platform::Hotkey> current_;
    Action action_;
};

} // namespace fakes
