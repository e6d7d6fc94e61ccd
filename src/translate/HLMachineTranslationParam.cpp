#include "translate/HLMachineTranslationParam.h"

#include <QJsonDocument>

QByteArray HLMachineTranslationParam::toJSONString() const
{
    const QJsonObject body {
        { QStringLiteral("common"), common.toJson() },
        { QStringLiteral("business"), business.toJson() },
        { QStringLiteral("data"), data.toJson() },
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}
