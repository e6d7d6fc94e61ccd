#pragma once

#include "translate/HLMachineTranslationBusinessModel.h"
#include "translate/HLMachineTranslationCommonModel.h"
#include "translate/HLMachineTranslationDataModel.h"

#include <QByteArray>

// One machine-translation request as the service takes it: three objects,
// "common", "business" and "data".
class HLMachineTranslationParam {
public:
    HLMachineTranslationCommonModel common;
    HLMachineTranslationBusinessModel business;
    HLMachineTranslationDataModel data;

    // The compact UTF-8 JSON text of the request body.
    QByteArray toJSONString() const;
};
