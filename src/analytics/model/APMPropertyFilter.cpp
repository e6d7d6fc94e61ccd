#include "analytics/model/APMPropertyFilter.h"

APMPropertyFilter::APMPropertyFilter(qint32 audienceID, qint32 filterID, const QString& propertyName,
    const QByteArray& data, bool sessionScoped, bool dynamic, bool sequence)
    : audienceID_(audienceID)
    , filterID_(filterID)
    , propertyName_(propertyName)
    , data_(data)
    , sessionScoped_(sessionScoped)
    , dynamic_(dynamic)
    , sequence_(sequence)
{
}
