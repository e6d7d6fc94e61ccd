#pragma once

#include "platform/Executor.h"
#include "platform/KeyPoster.h"

#include <QString>


namespace fakes {

class FakePasteboard;

// The application that has the keyboard focus, as far as a copy goes: it
// answers Command-C a moment later (on the executor, as a real application
// answers from its own event loop) by putting the text selected in it on the
// clipboard; with nothing selected it leaves the clipboard alone. Main thread.
class FakeForegroundApplication final : public platform::KeyPoster {
public:
    static constexpr double kCopyLatencySeconds = 0.05;

    FakeForegroundApplication(FakePasteboard& pasteboard, platform::Executor& executor);

    bool isAvailable() const override { return true; }
    bool press(platform::Key key, platform::Modifiers modifiers = {}) override;

    // The text selected in it; a null text for no selection.
    void select(const QString& text) { selected_ = text; }
    int copies() const { return copies_; }

private:
    FakePasteboard& pasteboard_;
    platform::Executor& executor_;
    QString selected_;
    int copies_ = 0;
};

} // namespace fakes
