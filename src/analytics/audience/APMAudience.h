#pragma once

#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMPropertyFilter.h"
#include "analytics/model/APMUserAttribute.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class APMAudienceTimestampsCache;
class APMDatabase;
class APMError;
class APMPBEventFilter;
class APMPBPropertyFilter;
class APMEvent;
class APMEventAggregates;
class APMFilterResult;
class APMPBAudience;
class APMPBAudienceLeafFilterResult;
class APMPBUserAttribute;

// The audiences of the remote configuration on this device: stores their
// definitions as filter rows, evaluates every event and user property
// against the filters of its name, keeps the outcome per audience as a
// result record (bit sets with timestamps) and hands the results to every
// upload bundle.
//
// What the engine calls, all inside its own database work on its worker
// queue:
// - a new configuration: updateAudiences();
// - bundling: at a session start
//   clearEvaluationResultsForSessionScopedFilters(); then evaluateBundle()
//   with the bundle's events and user properties (or the per-event and
//   per-property calls, all with one timestamps cache for the pass); then
//   resultsForBundling(), whose messages go into the bundle's audience
//   results (slot audience_evaluation_results).
// A false answer reports a failure already logged; the caller stops its own
// work on it. Not locked.
class APMAudience {
public:
    using LimitsProvider = std::function<APMAudienceLimits()>;

    // The limits are read at each use; without a provider the defaults apply.
    explicit APMAudience(APMDatabase& database, LimitsProvider limits = {});

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences);
    bool maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs);

    // The cache may be null: the call then uses one of its own.
    bool evaluateFiltersForEvent(
        const APMEvent& event, const APMEventAggregates* aggregates, APMAudienceTimestampsCache* cache);
    bool evaluateFiltersForEventName(const QString& eventName, const EventParameters& parameters,
        const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache* cache);
    bool evaluateFiltersForUserProperty(
        const APMUserAttribute& attribute, APMAudienceTimestampsCache* cache, double evaluationTimestamp);
    // A user property in its bundle form; without an evaluation time, its
    // own set time counts.
    bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& property, APMAudienceTimestampsCache* cache,
        std::optional<double> evaluationTime);

    // One event of a bundle with the aggregates of its name as counted up
    // to it (nothing when none are known).
    struct BundleEvent {
        const APMEvent* event = nullptr;
        const APMEventAggregates* aggregates = nullptr;
    };
    // A bundle at once, as the per-event and per-property calls would do it
    // in order, but with every audience's result row read and written once
    // for the whole bundle. The properties are evaluated at the given time.
    bool evaluateBundle(const std::vector<BundleEvent>& events, const QList<APMUserAttribute>& properties,
        double evaluationTimestamp, APMAudienceTimestampsCache& cache);

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

    class ResultRows;

private:
    APMAudienceLimits limits() const;
    bool evaluateEvent(const QString& eventName, const EventParameters& parameters,
        const APMEventAggregates* aggregates, double eventTimestamp, APMAudienceTimestampsCache& cache,
        ResultRows& store);
    bool evaluateProperty(const APMUserAttribute& attribute, APMAudienceTimestampsCache& cache,
        double evaluationTimestamp, ResultRows& store);
    std::optional<QList<APMEventFilter>> eventFilterRows(const QString& eventName, APMError* error);
    std::optional<QList<APMPropertyFilter>> propertyFilterRows(const QString& propertyName, APMError* error);
    std::shared_ptr<const APMPBEventFilter> decodedEventFilter(const QByteArray& data);
    std::shared_ptr<const APMPBPropertyFilter> decodedPropertyFilter(const QByteArray& data);
    void forgetDefinitions();

    APMDatabase& database_;
    LimitsProvider limits_;
    // The stored definitions change only through updateAudiences(), which
    // drops these: every event of a bundle then costs no filter query and
    // no decoding of the definitions it is matched against. Bounded, as
    // event names without filters are remembered too.
    static constexpr qsizetype kMaxCachedNames = 1024;
    QHash<QString, QList<APMEventFilter>> eventFiltersByName_;
    QHash<QString, QList<APMPropertyFilter>> propertyFiltersByName_;
    QHash<QByteArray, std::shared_ptr<const APMPBEventFilter>> decodedEventFilters_;
    QHash<QByteArray, std::shared_ptr<const APMPBPropertyFilter>> decodedPropertyFilters_;
};
