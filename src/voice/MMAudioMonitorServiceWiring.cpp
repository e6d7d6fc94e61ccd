#include "voice/MMAudioMonitorServiceActions.h"

std::shared_ptr<MMAudioMonitorService::Actions> MMAudioMonitorService::Actions::shared()
{
    static auto actions = std::make_shared<Actions>();
    return actions;
}
