#include "voice/MMAudioMonitorServiceActions.h"

#include "voice/UWCmdService.h"
#include "voice/UWHomeViewModel.h"

std::shared_ptr<MMAudioMonitorService::Actions> MMAudioMonitorService::Actions::shared()
{
    static const std::shared_ptr<Actions> actions = [] {
        auto made = std::make_shared<Actions>();
        made->customCommands = [] { return UWHomeViewModel::sharedUWHomeViewModel().getCustomCmdList(); };
        made->applications = [] { return UWHomeViewModel::sharedUWHomeViewModel().getLocalMyAppsCmdList(); };
        made->openTarget = [](const QString& path, const QString& cmdType) {
            UWCmdService::sharedUWCmdService().openFileWithCmdPath(path, cmdType);
        };
        // The translation clients sit beside this library, not below it:
        // VoiceTranslationWiring (ui) connects them at start-up.
        return made;
    }();
    return actions;
}
