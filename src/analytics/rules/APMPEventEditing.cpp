#include "analytics/rules/APMPEventEditing.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBOgtActivities.h"
#include "analytics/wire/APMPBOgtActivity.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBRuntimeEntity.h"

const QString APMPEventEditing::kEditingErrorDomain
    = QStringLiteral("com.vireo.vmp.measurement.pixie.editing.ErrorDomain");

namespace {

// Slots of the program messages.
constexpr int32_t kProgramInstructions = 0;
constexpr int32_t kProgramActivities = 1;
constexpr int32_t kActivitiesList = 0;
constexpr int32_t kActivityName = 0;
constexpr int32_t kActivityData = 1;
constexpr int32_t kEntityType = 0;
constexpr int32_t kEntityArguments = 1;
constexpr int32_t kEntityStatement = 2;

// Entity types as the interpreter reads them.
constexpr int32_t kTypeString = 1;
constexpr int32_t kTypeNumber = 2;
constexpr int32_t kTypeBoolean = 3;
constexpr int32_t kTypeStatement = 4;

bool fail(APMError* error, const QString& domain, qint64 code)
{
    if (error)
        *error = APMError(domain, code);
    return false;
}

bool checkEntity(const APMPBRuntimeEntity& entity, APMError* error)
{
    const int32_t type = APMPBHasField(&entity, kEntityType) ? APMPBGetInt32Field(&entity, kEntityType) : 0;
    switch (type) {
    case kTypeString:
    case kTypeNumber:
    case kTypeBoolean:
        return true;
    case kTypeStatement:
        break;
    default:
        return fail(error, APMPRuntime::kErrorDomain, APMPRuntime::ErrorUnknownEntityType);
    }
    if (APMPBGetStringField(&entity, kEntityStatement).isEmpty())
        return fail(error, APMPRuntime::kErrorDomain, APMPRuntime::ErrorStatementWithoutFunctionName);
    for (const auto& argument : APMPBGetArrayField<APMPBRuntimeEntity>(&entity, kEntityArguments)) {
        if (!checkEntity(*argument, error))
            return false;
    }
    return true;
}

bool checkEntities(const NANOMessageBase& message, int32_t slot, APMError* error)
{
    for (const auto& entity : APMPBGetArrayField<APMPBRuntimeEntity>(&message, slot)) {
        if (!checkEntity(*entity, error))
            return false;
    }
    return true;
}

} // namespace

APMPEventEditing::APMPEventEditing()
    : APMPEventEditing(std::make_shared<APMPRuntime>())
{
}

APMPEventEditing::APMPEventEditing(std::shared_ptr<APMPRuntime> runtime)
    : runtime_(runtime ? std::move(runtime) : std::make_shared<APMPRuntime>())
{
}

APMPEventEditing::~APMPEventEditing() = default;

void APMPEventEditing::setModuleCreator(APMPDynamicProvider::Creator creator, const QString& name)
{
    runtime_->setModuleCreator(std::move(creator), name);
}

bool APMPEventEditing::loadProgram(const APMPBProgram& program, APMError* error)
{
    if (!checkEntities(program, kProgramInstructions, error))
        return false;
    const auto activities = APMPBGetMessageField<APMPBOgtActivities>(&program, kProgramActivities);
    if (!activities)
        return true;
    for (const auto& activity : APMPBGetArrayField<APMPBOgtActivity>(activities.get(), kActivitiesList)) {
        if (APMPBGetStringField(activity.get(), kActivityName).isEmpty())
            return fail(error, kEditingErrorDomain, ErrorNoFunctionForActivity);
        if (!checkEntities(*activity, kActivityData, error))
            return false;
    }
    return true;
}
