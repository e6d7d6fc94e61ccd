#pragma once

#include <QJsonObject>
#include <QString>

// The "data" part of a machine-translation request: the source text as
// standard Base64 of its UTF-8 bytes, without line breaks
// (HLParamTools::base64EncodeString).
class HLMachineTranslationDataModel {
public:
    QString text;

    QJsonObject toJson() const;
};
