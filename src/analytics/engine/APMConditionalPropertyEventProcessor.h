#pragma once

#include "analytics/engine/APMConditionalPropertyProcessor.h"

#include <memory>

class APMConditionalUserPropertyController;

// Conditional user properties in the pipeline: the engine's controller
// processes each written event; its timed-out and expired properties'
// events are written before the event, the triggered ones after it.
class APMConditionalPropertyEventProcessor final : public APMConditionalPropertyProcessor {
public:
    explicit APMConditionalPropertyEventProcessor(std::shared_ptr<APMConditionalUserPropertyController> controller);

    std::optional<QList<APMEvent>> processEventOnWorkerQueue(
        const APMEvent& event, const EventWriter& writeFilteredEvent) override;

private:
    std::shared_ptr<APMConditionalUserPropertyController> controller_;
};
