#pragma once

#include "analytics/engine/APMAudienceEvaluator.h"

#include <memory>

class APMAudience;
class APMAudienceResultRows;
class APMAudienceTimestampsCache;

// Audience evaluation by the audiences stored from the configuration: the
// bundling pass's calls go to the engine's APMAudience, with one timestamps
// cache and one set of result rows per bundle. Each audience's stored row is
// then read once and written once per bundle (at finishBundle()), not once
// per event.
class APMAudienceBundleEvaluator final : public APMAudienceEvaluator {
public:
    explicit APMAudienceBundleEvaluator(std::unique_ptr<APMAudience> audience);
    ~APMAudienceBundleEvaluator() override;

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences) override;
    void beginBundle() override;
    bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates) override;
    bool evaluateFiltersForUserProperty(
        const APMPBUserAttribute& property, std::optional<double> evaluationTime) override;
    bool finishBundle() override;
    std::optional<Results> resultsForBundling() override;
    void clearEvaluationResultsForSessionScopedFilters() override;

private:
    std::unique_ptr<APMAudience> audience_;
    // Null before the first bundle: the audience then uses one of its own.
    std::unique_ptr<APMAudienceTimestampsCache> cache_;
    // From beginBundle() to finishBundle(); without them each call writes
    // its own changes.
    std::unique_ptr<APMAudienceResultRows> results_;
};
