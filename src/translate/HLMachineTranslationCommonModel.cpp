#include "translate/HLMachineTranslationCommonModel.h"

QJsonObject HLMachineTranslationCommonModel::toJson() const
{
    return { { QStringLiteral("app_id"), app_id } };
}
