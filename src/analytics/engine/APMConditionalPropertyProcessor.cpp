#include "analytics/engine/APMConditionalPropertyProcessor.h"

#include "analytics/model/APMEvent.h"

namespace {

class ProcessorWithoutProperties final : public APMConditionalPropertyProcessor {
public:
    std::optional<QList<APMEvent>> processEventOnWorkerQueue(const APMEvent&, const EventWriter&) override
    {
        return QList<APMEvent>();
    }
};

} // namespace

std::shared_ptr<APMConditionalPropertyProcessor> APMConditionalPropertyProcessor::withoutProperties()
{
    return std::make_shared<ProcessorWithoutProperties>();
}
