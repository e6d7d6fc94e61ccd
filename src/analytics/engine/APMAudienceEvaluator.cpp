#include "analytics/engine/APMAudienceEvaluator.h"

#include "analytics/wire/APMPBAudienceLeafFilterResult.h"

namespace {

class EvaluatorWithoutAudiences final : public APMAudienceEvaluator {
public:
    void beginBundle() override { }
    bool evaluateFiltersForEvent(const APMEvent&, const APMEventAggregates&) override { return true; }
    bool evaluateFiltersForUserProperty(const APMPBUserAttribute&, std::optional<double>) override { return true; }
    std::optional<Results> resultsForBundling() override { return Results(); }
    void clearEvaluationResultsForSessionScopedFilters() override { }
};

} // namespace

std::shared_ptr<APMAudienceEvaluator> APMAudienceEvaluator::withoutAudiences()
{
    return std::make_shared<EvaluatorWithoutAudiences>();
}
