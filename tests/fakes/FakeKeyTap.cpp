#include "fakes/FakeKeyTap.h"

namespace fakes {

bool FakeKeyTap::start(Handler handler)
{
    ++startCount_;
    if (!available_ || handler_)
        return false;
    handler_ = std::move(handler);
    return true;
}

void FakeKeyTap::send(platform::MouseKey key, platform::KeyAction action)
{
    if (handler_)
        handler_(key, action);
}

} // namespace fakes
