#include "analytics/audience/APMESnapshot.h"

#include "analytics/audience/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/config/APMEFlagConversion.h"
#include "analytics/wire/APMPBExperiment.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFlag.h"
#include "analytics/wire/APMPBSnapshot.h"

#include <utility>
#include <vector>

namespace {
constexpr int kSnapshotSDKNameSlot = 0, kSnapshotExperimentsSlot = 1;
constexpr int kExperimentIDSlot = 0, kExperimentFlagsSlot = 1;
constexpr int kFlagNameSlot = 0;
} // namespace

APMESnapshot::APMESnapshot(QString sdkName, double timestamp)
    : sdkName_(std::move(sdkName))
    , timestamp_(timestamp)
{
}

std::optional<APMESnapshot> APMESnapshot::initWithProtobuf(const APMPBSnapshot& message, double timestamp)
{
    const QString name = APMPBGetStringField(&message, kSnapshotSDKNameSlot);
    if (name.isEmpty())
        return std::nullopt;
    APMESnapshot snapshot(name, timestamp);
    for (const auto& experiment : APMPBGetArrayField<APMPBExperiment>(&message, kSnapshotExperimentsSlot)) {
        QVariantMap flags;
        for (const auto& flag : APMPBGetArrayField<APMPBFlag>(experiment.get(), kExperimentFlagsSlot)) {
            const QString flagName = APMPBGetStringField(flag.get(), kFlagNameSlot);
            const QVariant value = APMEFlagValueFromProto(flag.get());
            if (!flagName.isEmpty() && value.isValid())
                flags.insert(flagName, value);
        }
        snapshot.setExperiment(APMPBGetInt32Field(experiment.get(), kExperimentIDSlot), flags);
    }
    return snapshot;
}

std::unique_ptr<APMPBSnapshot> APMESnapshot::proto() const
{
    auto message = APMPBSnapshot::initWithMessageInfo();
    if (!message)
        return nullptr;
    APMPBSetStringField(message.get(), kSnapshotSDKNameSlot, sdkName_);
    std::vector<std::unique_ptr<APMPBExperiment>> experiments;
    for (auto it = flagsByExperimentID_.constBegin(); it != flagsByExperimentID_.constEnd(); ++it) {
        auto experiment = APMPBExperiment::initWithMessageInfo();
        APMPBSetInt32Field(experiment.get(), kExperimentIDSlot, static_cast<qint32>(it.key()));
        std::vector<std::unique_ptr<APMPBFlag>> flags;
        for (auto flag = it->constBegin(); flag != it->constEnd(); ++flag) {
            if (auto built = APMEFlagProtoFromNameAndValue(flag.key(), flag.value(), APMEManager::monitor().monitor()))
                flags.push_back(std::move(built));
        }
        APMPBSetArrayField(experiment.get(), kExperimentFlagsSlot, flags);
        experiments.push_back(std::move(experiment));
    }
    APMPBSetArrayField(message.get(), kSnapshotExperimentsSlot, experiments);
    return message;
}

void APMESnapshot::addFlags(const QVariantMap& flags, qint64 experimentID)
{
    QVariantMap& target = flagsByExperimentID_[experimentID];
    for (auto it = flags.constBegin(); it != flags.constEnd(); ++it)
        target.insert(it.key(), it.value());
}

void APMESnapshot::setExperiment(qint64 experimentID, const QVariantMap& flags)
{
    flagsByExperimentID_.insert(experimentID, flags);
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
