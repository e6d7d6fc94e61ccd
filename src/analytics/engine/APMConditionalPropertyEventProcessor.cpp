#include "analytics/engine/APMConditionalPropertyEventProcessor.h"

#include "analytics/userproperties/APMConditionalUserPropertyController.h"

APMConditionalPropertyEventProcessor::APMConditionalPropertyEventProcessor(
    std::shared_ptr<APMConditionalUserPropertyController> controller)
    : controller_(std::move(controller))
{
}

std::optional<QList<APMEvent>> APMConditionalPropertyEventProcessor::processEventOnWorkerQueue(
    const APMEvent& event, const EventWriter& writeFilteredEvent)
{
    std::optional<APMConditionalUserPropertyController::ProcessedEvent> processed
        = controller_->processEventOnWorkerQueue(event);
    if (!processed)
        return std::nullopt;
    for (const APMEvent& before : processed->eventsBefore)
        writeFilteredEvent(before);
    return processed->triggeredEvents;
}
