#include "device/LowPowerTimer.h"

#include "core/MMDeviceInfo.h"

LowPowerTimer::LowPowerTimer(platform::Executor& executor, const MMDeviceInfo& device, std::function<void()> chaDianchi)
    : timer_(executor)
    , device_(device)
    , chaDianchi_(std::move(chaDianchi))
{
}

void LowPowerTimer::start()
{
    if (timer_.isActive())
        return;
    timer_.start(kInterval, [this] {
        if (chaDianchi_)
            chaDianchi_();
        if (!device_.remind())
            timer_.stop();
    });
}
