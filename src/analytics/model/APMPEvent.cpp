#include "analytics/model/APMPEvent.h"

#include "analytics/base/APMNumericUtil.h"

#include <cmath>
#include <limits>

APMPEvent::APMPEvent(const QString& name, double timestamp, const QVariantMap& parameters)
    : name_(name)
    , timestamp_(timestamp)
    , parameters_(parameters)
{
}

void APMPEvent::setParameter(const QVariant& value, const QString& name)
{
    if (!value.isValid() || value.isNull()) {
        parameters_.remove(name);
        return;
    }
    parameters_.insert(name, APMPCoerceParameterValue(name, parameters_.value(name), value));
}

bool APMPEvent::isEqualToEvent(const APMPEvent& other) const
{
    if (this == &other)
        return true;
    if (!(std::fabs(timestamp_ - other.timestamp_) <= std::numeric_limits<double>::epsilon()))
        return false;
    if (name_ != other.name_)
        return false;
    for (auto it = parameters_.cbegin(); it != parameters_.cend(); ++it) {
        const auto theirs = other.parameters_.constFind(it.key());
        if (theirs == other.parameters_.cend() || *theirs != *it)
            return false;
        if ((APMPIsIntegerVariant(*it) || APMPIsFloatingVariant(*it))
            && APMPIsFloatingVariant(*it) != APMPIsFloatingVariant(*theirs))
            return false;
    }
    return true;
}

bool APMPIsIntegerVariant(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

bool APMPIsFloatingVariant(const QVariant& value)
{
    const int type = value.metaType().id();
    return type == QMetaType::Double || type == QMetaType::Float;
}

QVariant APMPCoerceParameterValue(const QString& name, const QVariant& current, const QVariant& value)
{
    const auto whole = [&value] {
        if (APMPIsIntegerVariant(value))
            return QVariant(value.toLongLong());
        return QVariant(static_cast<qint64>(APMSaturatingInt64(value.toDouble())));
    };
    if (!APMPIsIntegerVariant(value) && !APMPIsFloatingVariant(value))
        return value;
    if (name == QLatin1String("_syn") || name == QLatin1String("_err") || name == QLatin1String("_el"))
        return whole();
    if (APMPIsFloatingVariant(current))
        return value;
    if (APMPIsIntegerVariant(current)) {
        if (name.startsWith(u'_'))
            return current;
        return whole();
    }
    if (current.metaType().id() == QMetaType::QString) {
        if (APMPIsIntegerVariant(value))
            return QString::number(value.toLongLong());
        return APMShortestNumberText(value.toDouble());
    }
    return value;
}
