#include "analytics/audience/APMAudienceResultBundler.h"

#include "analytics/audience/APMAudienceResultWords.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMFilterResult.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"

#include <QSet>

using namespace audience_words;

namespace audience_result_bundler {

constexpr int kLeafAudienceIDSlot = 0, kLeafCurrentSlot = 1, kLeafPreviousSlot = 2, kLeafPreviousClearedSlot = 3;
constexpr int kSequenceTimesSlot = 1;

APMMonitor& monitor()
{
    return APMLibrary::monitor();
}

QByteArray encoded(const NANOMessageBase& message)
{
    return message.protoBuffer().value_or(QByteArray());
}

} // namespace audience_result_bundler

APMAudienceResultBundler::APMAudienceResultBundler(APMDatabase& database)
    : database_(database)
{
}

std::optional<std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>>> APMAudienceResultBundler::resultsForBundling()
{
    using namespace audience_result_bundler;
    APMError error;
    const auto rows = database_.allFilterResults(&error);
    if (!rows) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6019,
            QStringLiteral("Unable to query Audience filter results. Audience results will not be bundled. Error"),
            error.description());
        return std::nullopt;
    }
    std::vector<std::unique_ptr<APMPBAudienceLeafFilterResult>> leaves;
    QList<APMFilterResult> queued;
    for (const APMFilterResult& row : *rows) {
        auto current = currentResultOf(&row);
        if (!current) {
            monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6020,
                QStringLiteral("Current result data is nil. Audience result will not be bundled. Audience ID"),
                row.audienceID());
            continue;
        }
        if (!anyStatusBitSet(wordsFromVariants(APMPBGetArrayField(current.get(), kResultStatusSlot)))) {
            monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6021,
                QStringLiteral("Current result status is 0. Audience result will not be bundled. Audience ID"),
                row.audienceID());
            continue;
        }
        auto leaf = APMPBAudienceLeafFilterResult::initWithMessageInfo();
        APMPBSetInt32Field(leaf.get(), kLeafAudienceIDSlot, row.audienceID());
        APMPBSetMessageField(leaf.get(), kLeafCurrentSlot, current.get());
        if (!row.previousResults().isEmpty()) {
            APMPBSetBoolField(leaf.get(), kLeafPreviousClearedSlot, false);
            const auto previous = APMPBResultData::initWithBuffer(row.previousResults());
            if (previous && encoded(*previous) == encoded(*current)) {
                // Nothing new since the last bundle: no previous result, and
                // the first sequence filter keeps only its latest time.
                auto sequences = APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(
                    current.get(), kResultSequenceSlot);
                if (!sequences.empty()) {
                    const QVariantList times = APMPBGetArrayField(sequences.front().get(), kSequenceTimesSlot);
                    if (times.size() >= 2) {
                        APMPBSetArrayField(sequences.front().get(), kSequenceTimesSlot, QVariantList { times.last() });
                        APMPBSetArrayField(current.get(), kResultSequenceSlot, sequences);
                        APMPBSetMessageField(leaf.get(), kLeafCurrentSlot, current.get());
                    }
                }
            } else if (previous) {
                APMPBSetMessageField(leaf.get(), kLeafPreviousSlot, previous.get());
            }
        } else {
            APMPBSetBoolField(leaf.get(), kLeafPreviousClearedSlot, true);
        }
        leaves.push_back(std::move(leaf));
        queued.append(APMFilterResult(row.audienceID(), encoded(*current), row.currentResults()));
    }
    if (!queued.isEmpty()) {
        error = APMError();
        if (!database_.updateFilterResults(queued, &error) && error.isSet()) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6022,
                QStringLiteral("Unable to save updated Audience filter results. Audience results will not be "
                               "bundled. Error"),
                error.description());
            return std::nullopt;
        }
    }
    return leaves;
}

bool APMAudienceResultBundler::clearEvaluationResultsForSessionScopedFilters()
{
    using namespace audience_result_bundler;
    APMError error;
    const auto sessionScoped = database_.allSessionScopedFilters(&error);
    if (!sessionScoped) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6040,
            QStringLiteral("Unable to query all session scoped filters. Session scoped results will not be cleared. "
                           "Error"),
            error.description());
        return false;
    }
    const auto rows = database_.allFilterResults(&error);
    if (!rows) {
        monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6041,
            QStringLiteral("Unable to query all filter results. Session scoped results will not be cleared. Error"),
            error.description());
        return false;
    }
    for (auto it = sessionScoped->constBegin(); it != sessionScoped->constEnd(); ++it) {
        const auto row = rows->constFind(it.key());
        if (row == rows->constEnd())
            continue;
        auto message = currentResultOf(&*row);
        if (!message)
            message = APMPBResultData::initWithMessageInfo();
        QList<quint64> status = wordsFromVariants(APMPBGetArrayField(message.get(), kResultStatusSlot));
        QList<quint64> results = wordsFromVariants(APMPBGetArrayField(message.get(), kResultResultsSlot));
        const QSet<qint32> cleared(it->begin(), it->end());
        for (qint32 filterID : cleared) {
            if (filterID < 0)
                continue;
            const qsizetype word = audienceResultWordIndex(filterID);
            if (word < status.size())
                setBit(status, filterID, false);
            if (word < results.size())
                setBit(results, filterID, false);
        }
        error = APMError();
        if (anyStatusBitSet(status)) {
            APMPBSetArrayField(message.get(), kResultStatusSlot, variantsFromWords(status));
            APMPBSetArrayField(message.get(), kResultResultsSlot, variantsFromWords(results));
            auto dynamic = APMPBGetArrayField<APMPBDynamicFilterResultTimestamp>(message.get(), kResultDynamicSlot);
            std::erase_if(dynamic, [&](const auto& entry) { return cleared.contains(APMPBGetInt32Field(entry.get(), 0)); });
            APMPBSetArrayField(message.get(), kResultDynamicSlot, dynamic);
            auto sequence
                = APMPBGetArrayField<APMPBSequenceFilterResultTimestamp>(message.get(), kResultSequenceSlot);
            std::erase_if(sequence, [&](const auto& entry) { return cleared.contains(APMPBGetInt32Field(entry.get(), 0)); });
            APMPBSetArrayField(message.get(), kResultSequenceSlot, sequence);
            if (!database_.updateFilterResults(
                    { APMFilterResult(it.key(), encoded(*message), row->currentResults()) }, &error)) {
                monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 6043,
                    QStringLiteral("Unable to update filter results. Session scoped results will not be cleared. "
                                   "Error"),
                    error.description());
                return false;
            }
        } else if (!database_.deleteFilterResults({ *row }, &error)) {
            monitor().logWithLevel(APMMonitor::kLevelErrorMonitored, 6042,
                QStringLiteral("Unable to delete filter results. Session scoped results will not be cleared. Error"),
                error.description());
            return false;
        }
    }
    return true;
}
