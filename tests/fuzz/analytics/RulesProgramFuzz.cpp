// Event-editing programs from random configuration messages: every program
// the configuration carries is converted, loaded with the host's modules and
// run on two events. No program may crash or hang the host, and what the
// facade reports must agree with the events it leaves.
//
// Input: the configuration message. Seeds: RulesProgramCorpus.py.

#include "FuzzTarget.h"
#include "analytics/base/APMError.h"
#include "analytics/rules/APMPEventEditing.h"
#include "analytics/rules/APMPKeyValueStore.h"
#include "analytics/rules/APMPLoggerDelegate.h"
#include "analytics/rules/APMPMessageLogger.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPObjectProvider.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBSetting.h"

namespace rules_program_fuzz {

constexpr int32_t kRulesSettingsSlot = 3, kRulesProgramsSlot = 8;
constexpr int32_t kRulesSettingNameSlot = 0, kRulesSettingValueSlot = 1;

class DiscardingLogger final : public APMPLoggerDelegate {
public:
    void logWithLevel(qint64, const QString&, const QStringList&, bool, bool) override { }
};

void registerHostModules(APMPEventEditing& editing, const QHash<QString, QString>& settings)
{
    editing.setModuleCreator(
        [settings]() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPKeyValueStore>(
                QStringLiteral("internal.remoteConfig"), [settings](const QString& key) -> std::optional<QString> {
                    const auto found = settings.constFind(key);
                    return found == settings.constEnd() ? std::nullopt : std::optional<QString>(*found);
                });
        },
        QStringLiteral("internal.remoteConfig"));
    editing.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPObjectProvider>(QStringLiteral("internal.appMetadata"), [] {
                return QVariantMap { { QStringLiteral("platform"), QStringLiteral("macos") },
                    { QStringLiteral("vmp_version"), qint64(102700) } };
            });
        },
        QStringLiteral("internal.appMetadata"));
    editing.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPMessageLogger>(std::make_shared<DiscardingLogger>());
        },
        APMPMessageLogger::kFunctionName);
}

void checkHandled(APMPEventEditing& editing, const APMPEvent& event)
{
    APMError error;
    const bool changed = editing.handleEvent(event, &error);
    if (editing.runtime().getInstructionCount() > APMPLimits::kMaxInstructions)
        fuzz::fail("the run went past its instruction budget");
    if (editing.runtime().objectManager().liveElementCount() > APMPLimits::kMaxLiveElements)
        fuzz::fail("the runtime's arrays hold more elements than its limit");
    const APMPEventContext& context = editing.eventContext();
    if (!context.inputEvent().isEqualToEvent(event) || !event.isEqualToEvent(context.inputEvent()))
        fuzz::fail("the input event changed");
    if (error.code() == 0 && changed != (editing.hasEdits() || editing.hasCreatedEvents()))
        fuzz::fail("handleEvent disagrees with the edits and created events");
    if (error.code() != 0 && changed)
        fuzz::fail("a failed run reported a change");
}

} // namespace rules_program_fuzz

PRAVIK_FUZZ_TARGET(rules_program)
{
    using namespace rules_program_fuzz;
    const auto config = APMPBMeasurementConfig::initWithBuffer(input);
    if (!config)
        return;
    QHash<QString, QString> settings;
    for (const auto& setting : APMPBGetArrayField<APMPBSetting>(config.get(), kRulesSettingsSlot))
        settings.insert(APMPBGetStringField(setting.get(), kRulesSettingNameSlot),
            APMPBGetStringField(setting.get(), kRulesSettingValueSlot));

    const APMPEvent purchase(QStringLiteral("purchase"), 1700000000.5,
        { { QStringLiteral("value"), 9.99 }, { QStringLiteral("count"), qint64(3) },
            { QStringLiteral("_x"), qint64(3) }, { QStringLiteral("currency"), QStringLiteral("EUR") },
            { QStringLiteral("items"), QVariantList { QVariantMap { { QStringLiteral("id"), QStringLiteral("a") } } } } });
    const APMPEvent empty(QString(), 0, {});
    for (const auto& program : APMPBGetArrayField<APMPBProgram>(config.get(), kRulesProgramsSlot)) {
        APMPEventEditing editing;
        registerHostModules(editing, settings);
        APMError error;
        const bool loaded = editing.loadProgram(*program, &error);
        if (loaded != (error.code() == 0))
            fuzz::fail("loadProgram disagrees with its error");
        if (editing.runtime().getInstructionCount() > APMPLimits::kMaxInstructions)
            fuzz::fail("the load went past its instruction budget");
        checkHandled(editing, purchase);
        checkHandled(editing, empty);
    }
}
