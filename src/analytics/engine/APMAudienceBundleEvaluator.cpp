#include "analytics/engine/APMAudienceBundleEvaluator.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/wire/APMPBAudience.h"

APMAudienceBundleEvaluator::APMAudienceBundleEvaluator(std::unique_ptr<APMAudience> audience)
    : audience_(std::move(audience))
{
}

APMAudienceBundleEvaluator::~APMAudienceBundleEvaluator() = default;

bool APMAudienceBundleEvaluator::updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences)
{
    return audience_->updateAudiences(audiences);
}

void APMAudienceBundleEvaluator::beginBundle()
{
    cache_ = std::make_unique<APMAudienceTimestampsCache>();
}

bool APMAudienceBundleEvaluator::evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates)
{
    return audience_->evaluateFiltersForEvent(event, &aggregates, cache_.get());
}

bool APMAudienceBundleEvaluator::evaluateFiltersForUserProperty(
    const APMPBUserAttribute& property, std::optional<double> evaluationTime)
{
    // At a session start (no time) the previous bundle's cache would put the
    // times of filters just cleared back into their results.
    return audience_->evaluateFiltersForNanoUserProperty(
        property, evaluationTime ? cache_.get() : nullptr, evaluationTime);
}

std::optional<APMAudienceEvaluator::Results> APMAudienceBundleEvaluator::resultsForBundling()
{
    return audience_->resultsForBundling();
}

void APMAudienceBundleEvaluator::clearEvaluationResultsForSessionScopedFilters()
{
    // A failure is logged by the audience; the results then stay as they
    // were, which the next session start clears again.
    audience_->clearEvaluationResultsForSessionScopedFilters();
}
