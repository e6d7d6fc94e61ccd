#include "fakes/FakeForegroundApplication.h"

#include "fakes/FakePasteboard.h"

namespace fakes {

FakeForegroundApplication::FakeForegroundApplication(FakePasteboard& pasteboard, platform::Executor& executor)
    : pasteboard_(pasteboard)
    , executor_(executor)
{
}

bool FakeForegroundApplication::press(platform::Key key, platform::Modifiers modifiers)
{
    if (key != platform::Key::C || modifiers != platform::Modifier::Command)
        return true;
    ++copies_;
    // The selection at the moment of the press is what gets copied.
    const QString selected = selected_;
    executor_.asyncAfter(kCopyLatencySeconds, [this, selected] {
        if (!selected.isNull())
            pasteboard_.setText(selected);
    });
    return true;
}

} // namespace fakes
