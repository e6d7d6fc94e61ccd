#include "analytics/engine/APMAudienceBundleEvaluator.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceResultRows.h"
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
    results_ = std::make_unique<APMAudienceResultRows>(audience_->database());
}

bool APMAudienceBundleEvaluator::evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates)
{
    return audience_->evaluateFiltersForEvent(event, &aggregates, cache_.get(), results_.get());
}

bool APMAudienceBundleEvaluator::evaluateFiltersForUserProperty(
    const APMPBUserAttribute& property, std::optional<double> evaluationTime)
{
    // At a session start (no time, before the bundle begins) the previous
    // bundle's cache would put the times of filters just cleared back into
    // their results, and the rows of a previous bundle that failed would
    // hold the outcome back until the next bundle drops them: the property
    // is evaluated and written on its own.
    if (!evaluationTime)
        return audience_->evaluateFiltersForNanoUserProperty(property, nullptr, std::nullopt);
    return audience_->evaluateFiltersForNanoUserProperty(property, cache_.get(), evaluationTime, results_.get());
}

bool APMAudienceBundleEvaluator::finishBundle()
{
    if (!results_)
        return true;
    // Once written (or failed, when the transaction rolls back) the rows
    // are done with: a later call outside a bundle writes its own.
    const std::unique_ptr<APMAudienceResultRows> results = std::move(results_);
    return audience_->writeBundleResults(*results, *cache_);
}

std::optional<APMAudienceEvaluator::Results> APMAudienceBundleEvaluator::resultsForBundling()
{
    if (!finishBundle())
        return std::nullopt;
    return audience_->resultsForBundling();
}

void APMAudienceBundleEvaluator::clearEvaluationResultsForSessionScopedFilters()
{
    // A failure is logged by the audience; the results then stay as they
    // were, which the next session start clears again.
    audience_->clearEvaluationResultsForSessionScopedFilters();
}
