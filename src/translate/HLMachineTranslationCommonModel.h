#pragma once

#include <QJsonObject>
#include <QString>

// The "common" part of a machine-translation request: who is asking. The
// request fills app_id itself; callers leave the part empty.
class HLMachineTranslationCommonModel {
public:
    QString app_id;

    QJsonObject toJson() const;
};
