#pragma once

#include "analytics/model/APMPEvent.h"

#include <QList>

#include <memory>
#include <optional>

class APMError;
class APMEvent;
class APMRemoteConfig;

// What the event pipeline asks of event editing: runs the configuration's
// rules on one event and tells what became of it. The engine's own is
// APMRulesEventEditor; tests may put another in its place.
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
};
