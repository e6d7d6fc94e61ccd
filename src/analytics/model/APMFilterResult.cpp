#include "analytics/model/APMFilterResult.h"

APMFilterResult::APMFilterResult(
    qint32 audienceID, const QByteArray& currentResults, const QByteArray& previousResults)
    : audienceID_(audienceID)
    , currentResults_(currentResults)
    , previousResults_(previousResults)
{
}
