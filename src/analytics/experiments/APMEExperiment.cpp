#include "analytics/experiments/APMEExperiment.h"

#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/wire/APMPBExperiment.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFlag.h"

#include <cstring>
#include <vector>

namespace apme_experiment {

constexpr int kExperimentIDSlot = 0, kExperimentFlagsSlot = 1;
constexpr int kFlagNameSlot = 0;

void log(qint64 code, const QString& message, const QVariant& context = QVariant())
{
    if (context.isValid())
        APMEManager::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, code, message, context);
    else
        APMEManager::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, code, message);
}

bool isFlagMessage(const NANOMessageBase& message)
{
    return std::strcmp(message.messageID(), APMPBFlagMessageType.name) == 0;
}

QVariant describe(const NANOMessageBase* message)
{
    return message ? QVariant(QString::fromLatin1(message->messageID())) : QVariant();
}

} // namespace apme_experiment

APMEExperiment::APMEExperiment(qint64 experimentID)
    : experimentID_(experimentID)
{
}

std::optional<APMEExperiment> APMEExperiment::initWithExperimentID(
    const QVariant& experimentID, const std::optional<QList<std::shared_ptr<const NANOMessageBase>>>& flags)
{
    using apme_experiment::log;
    if (!experimentID.isValid() || experimentID.isNull()) {
        log(870000, QStringLiteral("Cannot create an experiment without ID"));
        return std::nullopt;
    }
    if (!APMConfigStore::isNumber(experimentID)) {
        log(870001, QStringLiteral("Experiment ID must be a number. ID"), experimentID);
        return std::nullopt;
    }
    if (!flags) {
        log(870002, QStringLiteral("Cannot create an experiment with invalid flags"));
        return std::nullopt;
    }
    APMEExperiment experiment(APMConfigStore::int64FromNumber(experimentID));
    for (const auto& element : *flags) {
        if (!element || !apme_experiment::isFlagMessage(*element)) {
            log(870003, QStringLiteral("Cannot add non-flag into the experiment. Flag"),
                apme_experiment::describe(element.get()));
            return std::nullopt;
        }
        experiment.storeFlag(static_cast<const APMPBFlag&>(*element));
    }
    return experiment;
}

APMEExperiment APMEExperiment::initWithProtobuf(const APMPBExperiment& message)
{
    APMEExperiment experiment(APMPBGetInt32Field(&message, apme_experiment::kExperimentIDSlot));
    // A flag without name could never be asked for: left out.
    for (const auto& flag : APMPBGetArrayField<APMPBFlag>(&message, apme_experiment::kExperimentFlagsSlot)) {
        if (APMPBHasField(flag.get(), apme_experiment::kFlagNameSlot))
            experiment.storeFlag(*flag);
    }
    return experiment;
}

void APMEExperiment::addFlag(const std::shared_ptr<const NANOMessageBase>& flag)
{
    using apme_experiment::log;
    if (!flag) {
        log(870004, QStringLiteral("Cannot add empty flag into an experiment. ID"), experimentID_);
        return;
    }
    if (!apme_experiment::isFlagMessage(*flag)) {
        log(870005, QStringLiteral("Cannot add non-flag object into the experiment. Flag"),
            apme_experiment::describe(flag.get()));
        return;
    }
    if (!APMPBHasField(flag.get(), apme_experiment::kFlagNameSlot)) {
        log(870006, QStringLiteral("Cannot add a flag without name into an experiment. ID"), experimentID_);
        return;
    }
    storeFlag(static_cast<const APMPBFlag&>(*flag));
}

void APMEExperiment::storeFlag(const APMPBFlag& flag)
{
    // A copy of its own: the caller's message may change after it was added.
    std::shared_ptr<const APMPBFlag> copy = APMPBFlag::initWithMessageInfo(flag.messageInfo());
    if (copy)
        flagsByName_.insert(APMPBGetStringField(copy.get(), apme_experiment::kFlagNameSlot), copy);
}

APMEExperiment::Flag APMEExperiment::flagWithName(const QString& name) const
{
    if (name.isEmpty()) {
        apme_experiment::log(870007, QStringLiteral("Cannot retrieve a flag without a flag name"));
        return nullptr;
    }
    return flagsByName_.value(name);
}

std::unique_ptr<APMPBExperiment> APMEExperiment::proto() const
{
    auto message = APMPBExperiment::initWithMessageInfo();
    if (!message)
        return nullptr;
    APMPBSetInt32Field(message.get(), apme_experiment::kExperimentIDSlot, static_cast<qint32>(experimentID_));
    std::vector<const NANOMessageBase*> flags;
    for (const Flag& flag : flagsByName_)
        flags.push_back(flag.get());
    APMPBSetArrayField(message.get(), apme_experiment::kExperimentFlagsSlot, flags);
    return message;
}
