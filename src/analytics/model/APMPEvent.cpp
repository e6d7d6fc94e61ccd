#include "analytics/model/APMPEvent.h"

APMPEvent::APMPEvent(const QString& name, double timestamp, const QVariantMap& parameters)
    : name_(name)
    , timestamp_(timestamp)
    , parameters_(parameters)
{
}
