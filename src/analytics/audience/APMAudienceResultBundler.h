#pragma once

#include <memory>
#include <optional>
#include <vector>

class APMDatabase;
class APMPBAudienceLeafFilterResult;

// The stored audience results between evaluations: hands each upload bundle
// one leaf-filter result per audience that has an evaluated filter (the
// stored current result then becomes the previous one), and at a new
// session clears the results of the session-scoped filters.
//
// Called inside the bundling pass's database work on the engine's worker
// queue. A failure is logged and answered with nothing or false; rows
// changed before it stay to the caller's transaction. Not locked.
class APMAudienceResultBundler {
public:
    explicit APMAudienceResultBundler(APMDatabase& database);

    // Nothing on failure.
    std::optional<std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>> resultsForBundling();
    bool clearEvaluationResultsForSessionScopedFilters();

private:
    APMDatabase& database_;
};
