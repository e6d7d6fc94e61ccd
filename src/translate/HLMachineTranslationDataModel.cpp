#include "translate/HLMachineTranslationDataModel.h"

QJsonObject HLMachineTranslationDataModel::toJson() const
{
    return { { QStringLiteral("text"), text } };
}
