#pragma once

#include "analytics/model/APMPEvent.h"

#include <QList>

#include <memory>
#include <optional>

class APMError;
class APMEvent;
class APMRemoteConfig;

// What the event pipeline asks of event editing: runs the configuration's
// rules on one event and tells what became of it. The rules layer supplies
// the real editor; the engine starts with the one that edits nothing, which
// is what editing does while the configuration carries no program.
class APMEventEditor {
public:
    struct Result {
        // The event as the rules left it, when they changed it.
        std::optional<APMPEvent> editedEvent;
        // Events the rules created, in the order they were logged.
        QList<APMPEvent> eventsToLog;
    };

    virtual ~APMEventEditor() = default;

    // Nothing, with the error set, when editing failed (the pipeline then
    // writes the event unedited).
    virtual std::optional<Result> handleEvent(
        const APMEvent& event, const APMRemoteConfig& remoteConfig, APMError* error) = 0;

    // No program: no edit, no created event.
    static std::shared_ptr<APMEventEditor> withoutPrograms();
};
