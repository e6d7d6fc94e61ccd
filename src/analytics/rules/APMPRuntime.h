#pragma once

#include "analytics/rules/APMPDynamicProvider.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"

#include <memory>
#include <vector>

class APMPBRuntimeEntity;
class APMPObjectManager;
class APMPRequire;

// One instance of the rules interpreter: a root scope holding the run's
// instruction count, a global scope holding "require" and whatever a loaded
// program declares at top level, the module registry and the collector.
// A runtime and everything it makes are used from one thread at a time.
class APMPRuntime {
public:
    static const QString& kErrorDomain; // "com.vireo.vmp.measurement.pixie.ErrorDomain"

    // The runtime error codes the host sees most (all are in APMPRuntimeError).
    enum ErrorCode : qint64 {
        ErrorUnknownEntityType = APMPRuntimeError::UnknownEntityType,
        ErrorStatementWithoutFunctionName = APMPRuntimeError::StatementWithoutFunctionName,
        ErrorModuleCreatorFailed = APMPRuntimeError::ModuleCreatorFailed,
        ErrorInstructionBudgetExhausted = APMPRuntimeError::InstructionBudgetExhausted,
    };

    // Sent with every configuration request as "runtime_version".
    static qint64 runtimeVersion() { return 0; }

    APMPRuntime();
    ~APMPRuntime();
    APMPRuntime(const APMPRuntime&) = delete;
    APMPRuntime& operator=(const APMPRuntime&) = delete;

    void setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name);

    // What a program's require(name) answers, null standing for undefined.
    std::shared_ptr<APMPRuntimeValue> require(const QString& name, APMError* error);

    // Converts and evaluates each entity in order in the global scope; the
    // last result, or undefined with the first error. Control values are
    // handed back as they are.
    APMPValue executeStatements(const std::vector<const APMPBRuntimeEntity*>& entities, APMError* error);

    // A new child of the global scope, for one handled event.
    APMPScopePtr getRunScope();
    int getInstructionCount(APMError* error = nullptr) const;
    void resetInstructionCount();

    const APMPScopePtr& initialScope() const { return initScope_; }
    const APMPScopePtr& globalScope() const { return globalScope_; }
    APMPObjectManager& objectManager() const { return *objectManager_; }
    void addGarbageCollectionRoot(const std::shared_ptr<APMPMarkable>& root);
    void collectGarbage();

private:
    APMPValue runStatements(const std::vector<const APMPBRuntimeEntity*>& entities, APMError* out);

    std::shared_ptr<APMPObjectManager> objectManager_;
    APMPScopePtr initScope_;
    APMPScopePtr globalScope_;
    std::shared_ptr<APMPDynamicProvider> apiProvider_;
    std::shared_ptr<APMPRequire> require_;
};
