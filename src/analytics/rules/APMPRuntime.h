#pragma once

#include "analytics/rules/APMPDynamicProvider.h"

#include <QHash>
#include <QString>

#include <memory>

class APMError;
class APMPRuntimeValue;

// One instance of the rules interpreter, as far as the host sees it: the
// registry of the modules that programs load with "require", and the
// modules loaded so far. Each module is made at most once per runtime.
class APMPRuntime {
public:
    static const QString kErrorDomain; // "com.vireo.vmp.measurement.pixie.ErrorDomain"

    // Runtime error codes raised so far.
    enum ErrorCode : qint64 {
        ErrorUnknownEntityType = 12,
        ErrorStatementWithoutFunctionName = 14,
        ErrorModuleCreatorFailed = 15,
    };

    void setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name);

    // What a program's require(name) answers: the module loaded earlier
    // under the name, else the registry's (kept for later calls, "none"
    // included). A creator registered after the name was first required is
    // not consulted again. On an error nothing is kept and nothing returned.
    std::shared_ptr<APMPRuntimeValue> require(const QString& name, APMError* error);

private:
    APMPDynamicProvider provider_;
    QHash<QString, std::shared_ptr<APMPRuntimeValue>> modules_;
};
