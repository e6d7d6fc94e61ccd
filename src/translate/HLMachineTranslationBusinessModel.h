#pragma once

#include <QJsonObject>
#include <QString>

// The "business" part of a machine-translation request: the service's
// language codes of the source and the target (for example "cn", "en", "auto").
class HLMachineTranslationBusinessModel {
public:
    QString from;
    QString to;

    QJsonObject toJson() const;
};
