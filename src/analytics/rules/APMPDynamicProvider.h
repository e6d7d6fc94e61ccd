#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

class APMError;
class APMPRuntimeValue;

// The module registry of a runtime: module name to the creator that makes
// the module when a program first asks for it.
class APMPDynamicProvider {
public:
    using Creator = std::function<std::shared_ptr<APMPRuntimeValue>()>;

    // A later creator under the same name replaces the earlier one; an empty
    // creator removes the name.
    void setModuleCreator(Creator creator, const QString& name);
    bool hasModuleCreatorForName(const QString& name) const { return creators_.contains(name); }

    // The creator's module, made anew on every call. A name without a
    // creator gives nothing (undefined) and no error; a creator that makes
    // nothing gives nothing and runtime error 15.
    std::shared_ptr<APMPRuntimeValue> moduleForName(const QString& name, APMError* error) const;

private:
    QHash<QString, Creator> creators_;
};
