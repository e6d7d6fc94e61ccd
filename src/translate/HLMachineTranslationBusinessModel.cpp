#include "translate/HLMachineTranslationBusinessModel.h"

QJsonObject HLMachineTranslationBusinessModel::toJson() const
{
    return { { QStringLiteral("from"), from }, { QStringLiteral("to"), to } };
}
