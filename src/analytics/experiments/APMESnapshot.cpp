#include "analytics/experiments/APMESnapshot.h"

#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMEFlagConversion.h"
#include "analytics/wire/APMPBExperiment.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFlag.h"
#include "analytics/wire/APMPBSnapshot.h"

#include <cstring>
#include <utility>
#include <vector>

namespace apme_snapshot {

constexpr int kSnapshotSDKNameSlot = 0, kSnapshotExperimentsSlot = 1;

void log(qint64 code, const QString& message, const QVariant& context = QVariant())
{
    if (context.isValid())
        APMEManager::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, code, message, context);
    else
        APMEManager::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, code, message);
}

// The flag messages of values given by name; values that make no flag are
// left out (and logged by the conversion).
QList<std::shared_ptr<const NANOMessageBase>> flagMessages(const QVariantMap& flags)
{
    QList<std::shared_ptr<const NANOMessageBase>> messages;
    for (auto it = flags.constBegin(); it != flags.constEnd(); ++it) {
        if (auto flag = APMEFlagProtoFromNameAndValue(it.key(), it.value(), APMEManager::monitor().monitor()))
            messages.append(std::move(flag));
    }
    return messages;
}

} // namespace apme_snapshot

APMESnapshot::APMESnapshot(QString sdkName, double timestamp)
    : sdkName_(std::move(sdkName))
    , timestamp_(timestamp)
{
}

std::optional<APMESnapshot> APMESnapshot::initWithSDKName(const QVariant& sdkName,
    const std::optional<QList<std::shared_ptr<const APMEExperiment>>>& experiments, double timestamp)
{
    using apme_snapshot::log;
    if (sdkName.typeId() != QMetaType::QString || sdkName.toString().isEmpty()) {
        log(840000, QStringLiteral("Cannot create snapshot with an invalid SDK name"), sdkName);
        return std::nullopt;
    }
    if (!experiments) {
        log(840001, QStringLiteral("Cannot create snapshot with an experiment list of nil"));
        return std::nullopt;
    }
    APMESnapshot snapshot(sdkName.toString(), timestamp);
    for (const auto& experiment : *experiments) {
        if (!experiment) {
            log(840002, QStringLiteral("Cannot create snapshot with an invalid experiment"), QVariant());
            return std::nullopt;
        }
        snapshot.setExperiment(*experiment);
    }
    return snapshot;
}

std::optional<APMESnapshot> APMESnapshot::initWithProtobuf(const APMPBSnapshot& message, double timestamp)
{
    QList<std::shared_ptr<const APMEExperiment>> experiments;
    for (const auto& experiment :
        APMPBGetArrayField<APMPBExperiment>(&message, apme_snapshot::kSnapshotExperimentsSlot))
        experiments.append(std::make_shared<const APMEExperiment>(APMEExperiment::initWithProtobuf(*experiment)));
    return initWithSDKName(
        APMPBGetStringField(&message, apme_snapshot::kSnapshotSDKNameSlot), experiments, timestamp);
}

std::unique_ptr<APMPBSnapshot> APMESnapshot::proto() const
{
    auto message = APMPBSnapshot::initWithMessageInfo();
    if (!message)
        return nullptr;
    APMPBSetStringField(message.get(), apme_snapshot::kSnapshotSDKNameSlot, sdkName_);
    std::vector<std::unique_ptr<APMPBExperiment>> experiments;
    for (const APMEExperiment& experiment : experimentsByID_) {
        if (auto built = experiment.proto())
            experiments.push_back(std::move(built));
    }
    APMPBSetArrayField(message.get(), apme_snapshot::kSnapshotExperimentsSlot, experiments);
    return message;
}

void APMESnapshot::setExperiment(const APMEExperiment& experiment)
{
    experimentsByID_.insert(experiment.experimentID(), experiment);
}

void APMESnapshot::addFlag(const std::shared_ptr<const NANOMessageBase>& flag, const QVariant& experimentID)
{
    using apme_snapshot::log;
    if (!experimentID.isValid() || experimentID.isNull()) {
        log(840003, QStringLiteral("Cannot add flag into empty experiment ID"));
        return;
    }
    if (!flag || std::strcmp(flag->messageID(), APMPBFlagMessageType.name) != 0) {
        log(840004, QStringLiteral("Cannot add an invalid flag into a snapshot"), experimentID);
        return;
    }
    const auto existing = experimentsByID_.find(experimentID.toLongLong());
    if (existing != experimentsByID_.end()) {
        existing->addFlag(flag);
        return;
    }
    if (auto made = APMEExperiment::initWithExperimentID(experimentID, QList { flag }))
        setExperiment(*made);
}

void APMESnapshot::addFlags(const QVariantMap& flags, qint64 experimentID)
{
    // An experiment is one even before it sets a flag.
    if (!experimentsByID_.contains(experimentID))
        setExperiment(experimentID, QVariantMap());
    for (const auto& flag : apme_snapshot::flagMessages(flags))
        addFlag(flag, QVariant::fromValue(experimentID));
}

void APMESnapshot::setExperiment(qint64 experimentID, const QVariantMap& flags)
{
    if (auto made = APMEExperiment::initWithExperimentID(
            QVariant::fromValue(experimentID), apme_snapshot::flagMessages(flags)))
        setExperiment(*made);
}

QMap<qint64, QVariantMap> APMESnapshot::flagsByExperimentID() const
{
    QMap<qint64, QVariantMap> result;
    for (const APMEExperiment& experiment : experimentsByID_) {
        QVariantMap& values = result[experiment.experimentID()];
        for (const APMEExperiment::Flag& flag : experiment.flags()) {
            const QVariant value = APMEFlagValueFromProto(flag.get());
            if (value.isValid())
                values.insert(APMPBGetStringField(flag.get(), 0), value);
        }
    }
    return result;
}

QVariant APMESnapshot::flagByName(const QString& name) const
{
    for (const APMEExperiment& experiment : experimentsByID_) {
        if (const APMEExperiment::Flag flag = experiment.flagWithName(name)) {
            const QVariant value = APMEFlagValueFromProto(flag.get());
            if (value.isValid())
                return value;
        }
    }
    return QVariant();
}
