#include "fakes/FakeMicrophoneInput.h"

namespace fakes {

bool FakeMicrophoneInput::start(Sink sink)
{
    ++starts_;
    if (!available_)
        return false;
    sink_ = std::move(sink);
    running_ = true;
    return true;
}

void FakeMicrophoneInput::stop()
{
    ++stops_;
    running_ = false;
    sink_ = {};
}

void FakeMicrophoneInput::deliver(const QByteArray& pcm)
{
    if (running_ && sink_)
        sink_(pcm);
}

} // namespace fakes
