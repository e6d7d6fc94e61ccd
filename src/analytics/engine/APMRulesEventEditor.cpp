#include "analytics/engine/APMRulesEventEditor.h"

#include "analytics/base/APMError.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/model/APMEvent.h"
#include "analytics/rules/APMPEventEditing.h"

std::optional<APMEventEditor::Result> APMRulesEventEditor::handleEvent(
    const APMEvent& event, const APMRemoteConfig& remoteConfig, APMError* error)
{
    const std::shared_ptr<APMPEventEditing> editing = remoteConfig.eventEditing();
    if (!editing)
        return Result {};
    APMError editingError;
    if (!editing->handleEvent(event.editEvent(), &editingError)) {
        // False also means "nothing changed"; only an error is a failure.
        if (editingError.domain().isEmpty() && editingError.code() == 0)
            return Result {};
        if (error)
            *error = editingError;
        return std::nullopt;
    }
    Result result;
    if (editing->hasEdits())
        result.editedEvent = editing->eventContext().outputEvent();
    for (const APMPEvent& created : editing->eventContext().eventsToLog())
        result.eventsToLog.append(created);
    return result;
}
