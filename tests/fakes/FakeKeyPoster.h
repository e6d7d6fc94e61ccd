#pragma once

#include "platform/KeyPoster.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <vector>

namespace fakes {

class FakePasteboard;

// Records every press, from any thread, and plays them into a model of the
// focused text field: Command-V inserts the clipboard's text as it is at that
// moment, Backspace removes the last user-perceived character (as real text
// fields do), Return adds a line break. So a test sees exactly the text that
// would arrive in the focused application.
class FakeKeyPoster final : public platform::KeyPoster {
public:
    struct Press {
        platform::Key key;
        platform::Modifiers modifiers;
        bool operator==(const Press&) const = default;
    };

    // Pastes read the given pasteboard; without one they insert nothing.
    explicit FakeKeyPoster(const FakePasteboard* pasteboard = nullptr);

    bool isAvailable() const override { return available_; }
    bool press(platform::Key key, platform::Modifiers modifiers = {}) override;

    void setAvailable(bool available) { available_ = available; }
    std::vector<Press> presses() const;
    QString fieldText() const;
    void setFieldText(const QString& text);

private:
    const FakePasteboard* pasteboard_;
    std::atomic<bool> available_ { true };
    mutable QMutex mutex_;
    std::vector<Press> presses_;
    QString field_;
};

} // namespace fakes
