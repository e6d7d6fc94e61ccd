#pragma once

#include "analytics/engine/APMEventEditor.h"

// Event editing by the programs of the remote configuration: the
// configuration's loaded event-editing facade runs on the event's edit form;
// its edited event and the events it logged come back to the pipeline. A
// configuration without a program edits nothing.
class APMRulesEventEditor final : public APMEventEditor {
public:
    std::optional<Result> handleEvent(
        const APMEvent& event, const APMRemoteConfig& remoteConfig, APMError* error) override;
};
