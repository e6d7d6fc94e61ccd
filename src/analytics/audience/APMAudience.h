#pragma once

#include "analytics/audience/APMAudienceDefinitions.h"
#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/audience/APMAudienceResultBundler.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMUserAttribute.h"

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

class APMAudienceResultRows;
class APMAudienceTimestampsCache;
class APMDatabase;
class APMEvent;
class APMEventAggregates;
class APMFilterResult;
class APMPBAudience;
class APMPBAudienceLeafFilterResult;
class APMPBUserAttribute;

// The audiences of the remote configuration on this device: evaluates every
// event and user property against the stored filters of its name and keeps
// the outcome per audience as a result record (bit sets with timestamps).
// Storing the definitions is APMAudienceDefinitions' job, handing the results
// to bundles and the session clean-up APMAudienceResultBundler's; this class
// is the one the engine holds and passes those calls on.
//
// What the engine calls, all inside its own database work on its worker
// queue:
// - a new configuration: updateAudiences();
// - bundling: at a session start
//   clearEvaluationResultsForSessionScopedFilters(); then the per-event and
//   per-property calls, all with one timestamps cache and one set of result
//   rows for the bundle; then writeBundleResults() and resultsForBundling(),
//   whose messages go into the bundle's audience results (slot
//   audience_evaluation_results), all in the bundle's transaction.
// A false answer reports a failure already logged; the caller stops its own
// work on it. Not locked.
class APMAudience {
public:
    using LimitsProvider = APMAudienceDefinitions::LimitsProvider;

    // The limits are read at each use; without a provider the defaults apply.
    explicit APMAudience(APMDatabase& database, LimitsProvider limits = {});

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences);
    bool maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs);

    // The cache may be null: the call then uses one of its own. Without
    // result rows the call reads the row of every audience it touches once
    // and writes the changed rows in one go before it returns; with the rows
    // of a bundling pass it reads and changes those and writes nothing (see
    // writeBundleResults()).
    bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates* aggregates,
        APMAudienceTimestampsCache* cache, APMAudienceResultRows* results = nullptr);
    bool evaluateFiltersForEventName(const QString& eventName, const EventParameters& parameters,
        const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache* cache,
        APMAudienceResultRows* results = nullptr);
    bool evaluateFiltersForUserProperty(const APMUserAttribute& attribute, APMAudienceTimestampsCache* cache,
        double evaluationTimestamp, APMAudienceResultRows* results = nullptr);
    // A user property in its bundle form; without an evaluation time, its
    // own set time counts.
    bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property, APMAudienceTimestampsCache* cache,
        std::optional<double> evaluationTime, APMAudienceResultRows* results = nullptr);
    // Writes what a bundling pass changed in its rows, with the pass's
    // cache; due before resultsForBundling() reads the stored rows.
    bool writeBundleResults(APMAudienceResultRows& results, const APMAudienceTimestampsCache& cache);
    // The database the result rows of a pass are read from.
    APMDatabase& database() const { return database_; }

    // One leaf-filter result per audience that has an evaluated filter; the
    // stored current result becomes the previous one. Nothing on failure.
    std::optional<std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>> resultsForBundling();
    bool clearEvaluationResultsForSessionScopedFilters();

    static bool isFilterResultTrueForFilterID(const APMFilterResult* result, qint32 filterID);
    static APMFilterResult updatedFilterResultWithFilterID(qint32 filterID, qint32 audienceID,
        const APMFilterResult* current, std::optional<bool> newEvaluationResult, APMAudienceTimestampsCache& cache);

    // The user attribute a bundle's user property stands for: the text, else
    // the double, else the integer value (the float field is not used).
    static std::optional<APMUserAttribute> userAttributeFromNanoUserProperty(const APMPBUserAttribute& property);

private:
    APMDatabase& database_;
    APMAudienceDefinitions definitions_;
    APMAudienceResultBundler bundler_;
};
