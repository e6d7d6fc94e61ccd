#pragma once

#include "analytics/rules/APMPFunctionValue.h"

#include <functional>
#include <optional>

// A module that lets programs read texts by key from the host, for example
// the settings of the remote configuration. Programs call its "getValue"
// with a key and a default; the default applies when the host has no text
// for the key. Calling the module itself yields undefined.
class APMPKeyValueStore final : public APMPFunctionValue {
public:
    using GetValueBlock = std::function<std::optional<QString>(const QString& key)>;

    APMPKeyValueStore(QString functionName, GetValueBlock getValueBlock);

    // The host's text for the key, or nothing.
    std::optional<QString> getValue(const QString& key) const;

private:
    GetValueBlock getValueBlock_;
};
