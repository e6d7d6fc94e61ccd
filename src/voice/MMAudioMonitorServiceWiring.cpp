#include "voice/MMAudioMonitorServiceActions.h"

#include "translate/HLMachineTranslationParam.h"
#include "translate/HLMachineTranslationRequest.h"
#include "translate/mmMicrosoftTextTrans.h"
#include "core/HLParamTools.h"
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
        made->mainlandTranslation = [](const QString& from, const QString& to, const QString& text,
                                        TranslationDone done) {
            HLMachineTranslationParam param;
            param.business.from = from;
            param.business.to = to;
            param.data.text = HLParamTools::base64EncodeString(text);
            // The translation, or the text of what went wrong: either is typed.
            HLMachineTranslationRequest::getMachineTranslationWithParam(
                std::move(param), [done = std::move(done)](bool, const QString& result) { done(result); });
        };
        made->overseasTranslation = [](const QString& from, const QString& to, const QString& text,
                                        TextTranslationDone done) {
            mmMicrosoftTextTrans().textTranslationWithFromLang(from, to, text, std::move(done));
        };
        return made;
    }();
    return actions;
}
