#include "analytics/audience/APMESnapshot.h"

#include <utility>

APMESnapshot::APMESnapshot(QString sdkName, double timestamp)
    : sdkName_(std::move(sdkName))
    , timestamp_(timestamp)
{
}

void APMESnapshot::addFlags(const QVariantMap& flags, qint64 experimentID)
{
    QVariantMap& target = flagsByExperimentID_[experimentID];
    for (auto it = flags.constBegin(); it != flags.constEnd(); ++it)
        target.insert(it.key(), it.value());
}

QVariant APMESnapshot::flagByName(const QString& name) const
{
    for (const QVariantMap& flags : flagsByExperimentID_) {
        const auto it = flags.constFind(name);
        if (it != flags.constEnd() && it->isValid())
            return *it;
    }
    return QVariant();
}
