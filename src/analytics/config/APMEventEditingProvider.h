#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class APMError;
class APMPBProgram;
class APMPEventEditing;

// Makes the runner of a configuration's event-editing program. The rules
// layer implements it (APMPEventEditingProvider); whoever creates the remote
// configuration hands one in. The configuration only holds the runner.
class APMEventEditingProvider {
public:
    // What a program may read of the configuration it came with.
    struct Modules {
        // The module "internal.remoteConfig": a setting's text as the
        // configuration holds it now, or nothing.
        std::function<std::optional<QString>(const QString& key)> settingText;
        // The module "internal.appMetadata": the app's metadata dictionary.
        std::function<QVariant()> appMetadata;
    };

    virtual ~APMEventEditingProvider() = default;

    // A runner with the modules above and the logger module, loaded with the
    // program; nothing (error set) when the program does not load.
    virtual std::shared_ptr<APMPEventEditing> eventEditingWithProgram(
        const APMPBProgram& program, Modules modules, APMError* error) const
        = 0;
};
