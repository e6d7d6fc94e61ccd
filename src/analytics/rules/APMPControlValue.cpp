#include "analytics/rules/APMPControlValue.h"

#include "analytics/rules/APMPPropertyMap.h"
#include "analytics/rules/APMPUndefinedValue.h"

#include <utility>

const APMPValue& APMPControlValue::breakValue()
{
    static const APMPValue instance = std::make_shared<APMPControlValue>(Type::Break, nullptr);
    return instance;
}

const APMPValue& APMPControlValue::continueValue()
{
    static const APMPValue instance = std::make_shared<APMPControlValue>(Type::Continue, nullptr);
    return instance;
}

APMPValue APMPControlValue::returnValueWithData(APMPValue data)
{
    return std::make_shared<APMPControlValue>(Type::Return, std::move(data));
}

APMPValue APMPControlValue::returnValueWithData(APMPValue data, APMPValue& spare)
{
    if (spare && spare.use_count() == 1) {
        auto& control = static_cast<APMPControlValue&>(*spare);
        APMPValue old = std::exchange(control.data_, data ? std::move(data) : APMPUndefinedValue::sharedInstance());
        APMPReleaseValue(std::move(old));
        return spare;
    }
    spare = returnValueWithData(std::move(data));
    return spare;
}

void APMPControlValue::releaseSpare(APMPValue& spare)
{
    if (!spare)
        return;
    if (spare.use_count() != 1) {
        spare.reset();
        return;
    }
    auto& control = static_cast<APMPControlValue&>(*spare);
    APMPReleaseValue(std::exchange(control.data_, APMPUndefinedValue::sharedInstance()));
}

APMPValue APMPControlValue::takeReturnData(APMPValue&& returned, APMPValue& spare)
{
    auto& control = static_cast<APMPControlValue&>(*returned);
    if (returned.get() == spare.get() && spare.use_count() == 2) {
        returned.reset();
        return std::exchange(control.data_, APMPUndefinedValue::sharedInstance());
    }
    APMPValue data = control.data_;
    returned.reset();
    releaseSpare(spare);
    return data;
}

APMPControlValue::APMPControlValue(Type type, APMPValue data)
    : APMPRuntimeValue(kKind)
    , type_(type)
    , data_(data ? std::move(data) : APMPUndefinedValue::sharedInstance())
{
}

QString APMPControlValue::typeName() const
{
    switch (type_) {
    case Type::Break:
        return QStringLiteral("break");
    case Type::Continue:
        return QStringLiteral("continue");
    case Type::Return:
        break;
    }
    return QStringLiteral("return");
}

bool APMPControlValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (this == &other)
        return true;
    if (other.kind() != kKind)
        return false;
    const auto& theirs = static_cast<const APMPControlValue&>(other);
    return theirs.type_ == type_ && data_->isEqualToRuntimeValue(*theirs.data_);
}
