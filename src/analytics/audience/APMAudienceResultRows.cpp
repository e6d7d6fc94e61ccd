#include "analytics/audience/APMAudienceResultRows.h"

#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/audience/APMAudienceResultWords.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"

using namespace audience_words;

namespace audience_result_rows {

// The words of a stored result; a row with result bytes but without both
// word lists counts as no result.
void wordsOf(const APMFilterResult& row, QList<quint64>& status, QList<quint64>& results)
{
    if (row.currentResults().isEmpty())
        return;
    const auto message = currentResultOf(&row);
    if (message) {
        status = wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot));
        results = wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot));
    }
    if (status.isEmpty() || results.isEmpty()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6023,
            QStringLiteral(
                "Audience filter result is non-nil and is missing status or results array. Audience "
                "result will not be bundled. Audience ID, result data"),
            row.audienceID(), message ? APMAudienceMessageForLog(message.get()) : QString());
        status.clear();
        results.clear();
    }
}

} // namespace audience_result_rows

APMAudienceResultRows::APMAudienceResultRows(APMDatabase& database)
    : database_(database)
{
}

APMAudienceResultRows::Row* APMAudienceResultRows::row(qint32 audienceID, APMError* error)
{
    if (const auto it = rows_.find(audienceID); it != rows_.end())
        return &*it;
    APMError readError;
    auto read = database_.filterResultForAudienceID(audienceID, &readError);
    if (!read && readError.isSet()) {
        if (error)
            *error = readError;
        return nullptr;
    }
    Row loaded;
    loaded.stored = std::move(read);
    if (loaded.stored)
        audience_result_rows::wordsOf(*loaded.stored, loaded.status, loaded.results);
    return &*rows_.insert(audienceID, std::move(loaded));
}

bool APMAudienceResultRows::write(const APMAudienceTimestampsCache& cache, APMError* error)
{
    QList<APMFilterResult> changed;
    for (auto it = rows_.cbegin(); it != rows_.cend(); ++it) {
        if (!it->changed)
            continue;
        changed.append(APMFilterResult(it.key(), encodedResult(it->status, it->results, it.key(), cache),
            it->stored ? it->stored->previousResults() : QByteArray()));
    }
    if (!changed.isEmpty()) {
        APMError saveError;
        // A refusal without an error is not a failure.
        if (!database_.updateFilterResults(changed, &saveError) && saveError.isSet()) {
            if (error)
                *error = saveError;
            return false;
        }
    }
    rows_.clear();
    return true;
}

QByteArray APMAudienceResultRows::encodedResult(const QList<quint64>& status, const QList<quint64>& results,
    qint32 audienceID, const APMAudienceTimestampsCache& cache)
{
    auto next = APMPBResultData::initWithMessageInfo();
    APMPBSetArrayField(next.get(), kResultStatusSlot, variantsFromWords(status));
    APMPBSetArrayField(next.get(), kResultResultsSlot, variantsFromWords(results));
    APMPBSetArrayField(next.get(), kResultDynamicSlot, cache.dynamicTimestampsForAudienceID(audienceID));
    if (const auto sequence = cache.sequenceTimestampsForAudienceID(audienceID))
        APMPBSetArrayField(next.get(), kResultSequenceSlot, *sequence);
    return next->protoBuffer().value_or(QByteArray());
}
