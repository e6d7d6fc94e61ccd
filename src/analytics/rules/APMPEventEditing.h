#pragma once

#include "analytics/rules/APMPDynamicProvider.h"
#include "analytics/rules/APMPEventContext.h"
#include "analytics/rules/APMPRuntimeValue.h"

#include <QString>

#include <memory>

class APMError;
class APMPBOgtActivity;
class APMPBProgram;
class APMPEditingCallbackHandler;
class APMPRuntime;

// The event-editing program of a remote configuration, loaded and ready to
// edit events and create new ones.
//
// The configuration builds one facade, registers its host modules and
// loads the program. The event pipeline then calls, for each event:
//
//     if (editing.handleEvent(event, &error)) {
//         editing.eventContext().outputEvent()   // the event to go on with
//         editing.eventContext().eventsToLog()   // new events to log
//     }
//
// handleEvent answers false when the programs changed nothing and created
// nothing, and also when they failed; a failure never leaves a half-edited
// event: the output event is then as the last successful callback left it.
class APMPEventEditing {
public:
    static const QString& kEditingErrorDomain; // "com.vireo.vmp.measurement.pixie.editing.ErrorDomain"

    enum EditingErrorCode : qint64 {
        ErrorCallbackWithoutType = 2,
        ErrorUnknownRuleType = 3,
        ErrorTooManyCallbacks = 4,
        ErrorProgramEndedInControlValue = 5,
        ErrorActivityDataNotMap = 6,
        ErrorNoFunctionForActivity = 7,
    };

    APMPEventEditing();
    explicit APMPEventEditing(std::shared_ptr<APMPRuntime> runtime);
    ~APMPEventEditing();

    APMPEventEditing(const APMPEventEditing&) = delete;
    APMPEventEditing& operator=(const APMPEventEditing&) = delete;

    void setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name);

    // Runs the top-level statements in the global scope, then loads each
    // activity; garbage is collected after all loaded. Stops at the first
    // error (bindings made before it stay).
    bool loadProgram(const APMPBProgram& program, APMError* error);
    // Each data entity is run alone and must yield a map, which is handed to
    // the function bound under the activity's name.
    bool loadActivityData(const APMPBOgtActivity& activity, APMError* error);
    bool registerRuleWithName(const QString& name, const APMPValue& rule, APMError* error);

    // Runs the registered callbacks on the event with a fresh instruction
    // budget and run scope, then collects garbage. True when the output
    // event differs from the input (hasEdits) or events were logged; false
    // when not and on an error.
    bool handleEvent(const APMPEvent& event, APMError* error);

    const APMPEventContext& eventContext() const { return *eventContext_; }
    // Whether the output event differs from the input event, a removed
    // parameter included.
    bool hasEdits() const;
    bool hasCreatedEvents() const { return !eventContext_->eventsToLog().empty(); }

    APMPRuntime& runtime() const { return *runtime_; }
    const APMPEditingCallbackHandler& callbackHandler() const { return *callbackHandler_; }

private:
    std::shared_ptr<APMPRuntime> runtime_;
    std::shared_ptr<APMPEventContext> eventContext_;
    std::shared_ptr<APMPEditingCallbackHandler> callbackHandler_;
};
