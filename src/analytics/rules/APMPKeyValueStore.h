#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QString>

#include <functional>
#include <optional>

// A module that lets programs read texts by key from the host, for example
// the settings of the remote configuration. Programs call its "getValue"
// with a key and a default; the default applies when the host has no text
// for the key.
class APMPKeyValueStore final : public APMPRuntimeValue {
public:
    using GetValueBlock = std::function<std::optional<QString>(const QString& key)>;

    APMPKeyValueStore(QString functionName, GetValueBlock getValueBlock);

    const QString& functionName() const { return functionName_; }
    // The host's text for the key, or nothing.
    std::optional<QString> getValue(const QString& key) const;

private:
    QString functionName_;
    GetValueBlock getValueBlock_;
};
