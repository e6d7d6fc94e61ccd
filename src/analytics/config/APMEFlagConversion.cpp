#include "analytics/config/APMEFlagConversion.h"

#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFlag.h"

namespace {

// Slots of the flag message.
enum FlagSlot : int32_t {
    NameSlot = 0,
    IntValueSlot = 1,
    StringValueSlot = 2,
    DoubleValueSlot = 3,
    BoolValueSlot = 4
};

const QString kNilNameMessage = QStringLiteral("Flag name must not be nil");
const QString kNameNotStringMessage = QStringLiteral("Flag name must be a string");
const QString kInvalidFlagValueMessage = QStringLiteral("Flag value is invalid");

// The kind of a refused object for the log; nil has none.
QVariant kindName(const QVariant& value)
{
    return value.isValid() ? QVariant(QString::fromLatin1(value.metaType().name())) : QVariant();
}

bool isReal(const QVariant& value)
{
    const int type = value.metaType().id();
    return type == QMetaType::Double || type == QMetaType::Float;
}

} // namespace

QVariant APMEFlagValueFromProto(const APMPBFlag* flag)
{
    if (!flag)
        return QVariant();
    if (APMPBHasField(flag, IntValueSlot))
        return QVariant(static_cast<qlonglong>(APMPBGetInt64Field(flag, IntValueSlot)));
    if (APMPBHasField(flag, DoubleValueSlot))
        return QVariant(APMPBGetDoubleField(flag, DoubleValueSlot));
    if (APMPBHasField(flag, StringValueSlot))
        return QVariant(APMPBGetStringField(flag, StringValueSlot));
    if (APMPBHasField(flag, BoolValueSlot))
        return QVariant(APMPBGetBoolField(flag, BoolValueSlot));
    return QVariant();
}

std::unique_ptr<APMPBFlag> APMEFlagProtoFromNameAndValue(
    const QVariant& name, const QVariant& value, APMMonitor& monitor)
{
    if (!name.isValid() || name.metaType().id() == QMetaType::Nullptr) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 850000, kNilNameMessage);
        return nullptr;
    }
    if (name.metaType().id() != QMetaType::QString) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 850001, kNameNotStringMessage, kindName(name));
        return nullptr;
    }
    const bool isString = value.metaType().id() == QMetaType::QString;
    if (!isString && !APMConfigStore::isNumber(value)) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 850002, kInvalidFlagValueMessage, kindName(value));
        return nullptr;
    }
    std::unique_ptr<APMPBFlag> flag = APMPBFlag::initWithMessageInfo();
    if (!flag)
        return nullptr;
    APMPBSetStringField(flag.get(), NameSlot, name.toString());
    if (isString)
        APMPBSetStringField(flag.get(), StringValueSlot, value.toString());
    else if (isReal(value))
        APMPBSetDoubleField(flag.get(), DoubleValueSlot, value.toDouble());
    else
        APMPBSetInt64Field(flag.get(), IntValueSlot, APMConfigStore::int64FromNumber(value));
    return flag;
}
