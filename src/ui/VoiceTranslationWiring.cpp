#include "ui/VoiceTranslationWiring.h"

#include "core/HLParamTools.h"
#include "translate/HLMachineTranslationParam.h"
#include "translate/HLMachineTranslationRequest.h"
#include "translate/mmMicrosoftTextTrans.h"
#include "voice/MMAudioMonitorServiceActions.h"

void VoiceTranslationWiring::connectTranslation()
{
    using Actions = MMAudioMonitorService::Actions;
    const std::shared_ptr<Actions> actions = Actions::shared();
    actions->mainlandTranslation
        = [](const QString& from, const QString& to, const QString& text, Actions::TranslationDone done) {
              HLMachineTranslationParam param;
              param.business.from = from;
              param.business.to = to;
              param.data.text = HLParamTools::base64EncodeString(text);
              // The translation, or the text of what went wrong: either is typed.
              HLMachineTranslationRequest::getMachineTranslationWithParam(
                  std::move(param), [done = std::move(done)](bool, const QString& result) { done(result); });
          };
    actions->overseasTranslation
        = [](const QString& from, const QString& to, const QString& text, Actions::TextTranslationDone done) {
              mmMicrosoftTextTrans().textTranslationWithFromLang(from, to, text, std::move(done));
          };
}
