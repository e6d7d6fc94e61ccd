#pragma once

#include "analytics/rules/APMPDynamicProvider.h"

#include <QString>

#include <memory>

class APMError;
class APMPBProgram;
class APMPRuntime;

// The runner of an event-editing program that arrives with the remote
// configuration. The host registers its modules, then loads the program.
//
// Loading checks the program's tree the way the interpreter reads it: every
// entity of the top-level statements and of the activities' data must be a
// string, number or boolean literal (types 1 to 3) or a statement (type 4)
// that names its function, and every activity must have a name. A program
// that fails the check is refused with the runtime or editing error that
// the interpreter would raise. Statements are not run here.
class APMPEventEditing {
public:
    static const QString kEditingErrorDomain; // "com.vireo.vmp.measurement.pixie.editing.ErrorDomain"

    enum EditingErrorCode : qint64 {
        ErrorNoFunctionForActivity = 7,
    };

    APMPEventEditing();
    explicit APMPEventEditing(std::shared_ptr<APMPRuntime> runtime);
    ~APMPEventEditing();

    APMPEventEditing(const APMPEventEditing&) = delete;
    APMPEventEditing& operator=(const APMPEventEditing&) = delete;

    void setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name);
    bool loadProgram(const APMPBProgram& program, APMError* error);

    APMPRuntime& runtime() const { return *runtime_; }

private:
    std::shared_ptr<APMPRuntime> runtime_;
};
