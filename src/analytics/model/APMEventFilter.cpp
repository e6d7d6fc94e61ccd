#include "analytics/model/APMEventFilter.h"

APMEventFilter::APMEventFilter(qint32 audienceID, qint32 filterID, const QString& eventName,
    const QByteArray& data, bool sessionScoped, bool dynamic, bool sequence)
    : audienceID_(audienceID)
    , filterID_(filterID)
    , eventName_(eventName)
    , data_(data)
    , sessionScoped_(sessionScoped)
    , dynamic_(dynamic)
    , sequence_(sequence)
{
}
