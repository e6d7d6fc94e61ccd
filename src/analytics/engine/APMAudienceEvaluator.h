#pragma once

#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"

#include <memory>
#include <optional>
#include <vector>

class APMEvent;
class APMEventAggregates;
class APMPBUserAttribute;

// What bundling asks of audience evaluation: every event and user property
// of a bundle is evaluated against the stored audience filters, and the
// results travel with the bundle. The engine's own is
// APMAudienceBundleEvaluator; tests may put another in its place.
// A false answer fails the bundling step (it is rolled back and retried).
class APMAudienceEvaluator {
public:
    using Results = std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>;

    virtual ~APMAudienceEvaluator() = default;

    // A new configuration's audience definitions replace the stored ones;
    // false fails applying the configuration.
    virtual bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences) = 0;

    // A new bundle begins: the timestamps of its evaluations are cached per
    // bundle, and an evaluator may hold back what they change until
    // finishBundle(). What an earlier bundle held back and never finished
    // (its transaction failed) is dropped here.
    virtual void beginBundle() = 0;
    virtual bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates) = 0;
    // Without an evaluation time when a session starts (before beginBundle()),
    // and then outside the bundle: written at once, without the bundle's
    // timestamps cache.
    virtual bool evaluateFiltersForUserProperty(
        const APMPBUserAttribute& property, std::optional<double> evaluationTime) = 0;
    // Writes what the bundle's evaluations held back, inside the bundle's
    // transaction; due before that transaction commits. An evaluator that
    // writes as it goes has nothing to do.
    virtual bool finishBundle() { return true; }
    // Finishes the bundle, then hands out the stored results.
    virtual std::optional<Results> resultsForBundling() = 0;
    virtual void clearEvaluationResultsForSessionScopedFilters() = 0;
};
