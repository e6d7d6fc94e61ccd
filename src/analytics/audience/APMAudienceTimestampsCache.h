#pragma once

#include "analytics/audience/APMSequenceTimestampsCache.h"

#include <QHash>
#include <QMap>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

class APMAudienceFilter;
class APMFilterResult;
class APMPBDynamicFilterResultTimestamp;

// The filter times of the audiences touched during one bundling pass (or
// one evaluation call): for dynamic and session-scoped filters the latest
// matching time, for sequence filters their lists. Loaded from each
// audience's stored result the first time the audience is touched, so times
// recorded during the pass are never overwritten by stored ones.
class APMAudienceTimestampsCache {
public:
    APMAudienceTimestampsCache() = default;

    // Loads the audience's stored times unless it is loaded already. A
    // sequence filter's stored list comes back as its last time only.
    void populateCachedTimestamps(const APMFilterResult* result, qint32 audienceID);
    // Records a matching time for the filter (see the class comment); an
    // earlier time than the stored one of a dynamic filter is logged (level
    // 5, code 6037) and dropped.
    void addEvaluationTimestamp(double timestamp, const APMAudienceFilter& filter);

    // One message per filter, ascending by filter ID, times as whole seconds.
    std::vector<std::unique_ptr<APMPBDynamicFilterResultTimestamp>> dynamicTimestampsForAudienceID(
        qint32 audienceID) const;
    // Nothing when the audience has no sequence cache.
    std::optional<std::vector<std::unique_ptr<APMPBSequenceFilterResultTimestamp>>>
    sequenceTimestampsForAudienceID(qint32 audienceID) const;

private:
    QHash<qint32, QMap<qint32, double>> cachedDynamicFilterEvaluationTimestamps_;
    QHash<qint32, APMSequenceTimestampsCache> cachedSequenceEvaluationTimestamps_;
};
