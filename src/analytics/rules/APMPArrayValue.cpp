#include "analytics/rules/APMPArrayValue.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPArrayCommandEvaluator.h"
#include "analytics/rules/APMPElementAccount.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <algorithm>
#include <cmath>

using namespace APMPRuntimeError;

namespace APMPArrayValueLocal {

const QString kComma = QStringLiteral(",");

class HoleMarker final : public APMPRuntimeValue {
};

bool isLengthName(const APMPRuntimeValue& property)
{
    return property.kind() == APMPRuntimeValue::Kind::String
        && static_cast<const APMPStringValue&>(property).value() == kAPMPLengthProperty;
}

} // namespace

const APMPValue& APMPArrayValue::emptyValue()
{
    static const APMPValue marker = std::make_shared<APMPArrayValueLocal::HoleMarker>();
    return marker;
}

APMPArrayValue::APMPArrayValue()
    : APMPRuntimeValue(kKind)
{
}

APMPArrayValue::APMPArrayValue(APMPValueList elements)
    : APMPRuntimeValue(kKind)
    , elements_(std::move(elements))
{
}

APMPArrayValue::~APMPArrayValue()
{
    if (account_)
        account_->release(accounted_);
    APMPReleaseValues(std::move(elements_));
}

bool APMPArrayValue::attachAccount(std::shared_ptr<APMPElementAccount> account, APMError* error)
{
    if (account_)
        account_->release(accounted_);
    accounted_ = 0;
    account_ = std::move(account);
    if (admit(count(), error))
        return true;
    APMPReleaseValues(std::move(elements_));
    elements_.clear();
    return false;
}

bool APMPArrayValue::admit(qint64 newCount, APMError* error)
{
    if (!account_ || newCount <= accounted_)
        return true;
    if (!account_->admit(newCount - accounted_)) {
        set(error, LimitExceeded);
        return false;
    }
    accounted_ = newCount;
    return true;
}

void APMPArrayValue::settle()
{
    if (account_ && count() < accounted_) {
        account_->release(accounted_ - count());
        accounted_ = count();
    }
}

qint64 APMPArrayValue::conversionUnits(qint64 allowance) const
{
    const APMPNestingGuard guard(this);
    if (guard.isCycle() || guard.tooDeep())
        return 0; // the conversion stops there at once
    // Each element is visited and followed by a separator in the text.
    qint64 units = 0;
    for (const APMPValue& element : elements_) {
        if (units > allowance)
            break;
        units += 2;
        if (const auto* text = APMPAs<APMPStringValue>(element))
            units += text->value().size();
        else if (const auto* array = APMPAs<APMPArrayValue>(element))
            units += array->conversionUnits(allowance - units);
    }
    return units;
}

qint64 APMPArrayValue::indexForProperty(const APMPRuntimeValue& property)
{
    if (!APMPIsArrayIndexValue(property))
        return -1;
    APMError ignored;
    const double number = property.doubleValueOrError(&ignored);
    if (number >= static_cast<double>(APMPLimits::kMaxArrayLength))
        return APMPLimits::kMaxArrayLength;
    return static_cast<qint64>(number);
}

QString APMPArrayValue::stringValueWithSeparator(const QString& separator, APMError* error) const
{
    // An array that holds itself contributes empty text where it recurs.
    const APMPNestingGuard guard(this);
    if (guard.isCycle())
        return QString();
    if (guard.tooDeep()) {
        set(error, LimitExceeded);
        return QString();
    }
    QString text;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i > 0)
            text += separator;
        const APMPRuntimeValue& element = *elements_[i];
        if (&element == emptyValue().get() || element.isNullOrUndefined())
            continue;
        text += element.stringValueOrError(error);
        if (failed(error))
            return QString();
        if (text.size() > APMPLimits::kMaxStringLength) {
            set(error, LimitExceeded);
            return QString();
        }
    }
    return text;
}

QString APMPArrayValue::stringValueOrError(APMError* error) const
{
    return stringValueWithSeparator(APMPArrayValueLocal::kComma, error);
}

double APMPArrayValue::doubleValueOrError(APMError* error) const
{
    const QString text = stringValueOrError(error);
    if (failed(error))
        return std::nan("");
    return APMPStringValue::numberForText(text);
}

bool APMPArrayValue::growTo(qint64 count, APMError* error)
{
    if (count > APMPLimits::kMaxArrayLength) {
        set(error, LimitExceeded);
        return false;
    }
    if (count <= this->count())
        return true;
    if (!admit(count, error))
        return false;
    elements_.resize(static_cast<std::size_t>(count), emptyValue());
    return true;
}

bool APMPArrayValue::setLength(qint64 count, APMError* error)
{
    if (count < 0) {
        set(error, InvalidLength);
        return false;
    }
    if (count >= this->count())
        return growTo(count, error);
    APMPValueList dropped(std::make_move_iterator(elements_.begin() + count), std::make_move_iterator(elements_.end()));
    elements_.resize(static_cast<std::size_t>(count));
    settle();
    APMPReleaseValues(std::move(dropped));
    return true;
}

bool APMPArrayValue::setValueForProperty(const APMPValue& value, const APMPValue& property, APMError* error)
{
    const QString name = property->stringValueOrError(error);
    if (failed(error))
        return false;
    if (APMPArrayValueLocal::isLengthName(*property)) {
        if (!APMPIsArrayIndexValue(*value)) {
            set(error, InvalidLength);
            return false;
        }
        APMError ignored;
        const double length = value->doubleValueOrError(&ignored);
        if (length > static_cast<double>(APMPLimits::kMaxArrayLength)) {
            set(error, LimitExceeded);
            return false;
        }
        return setLength(static_cast<qint64>(length), error);
    }
    const qint64 index = indexForProperty(*property);
    if (index < 0) {
        properties_.setValue(value, name);
        return true;
    }
    if (index >= count() && !growTo(index + 1, error))
        return false;
    APMPValue old = std::move(elements_[static_cast<std::size_t>(index)]);
    elements_[static_cast<std::size_t>(index)] = value;
    APMPReleaseValue(std::move(old));
    return true;
}

APMPValue APMPArrayValue::valueAt(qint64 index) const
{
    if (index < 0 || index >= count())
        return APMPUndefinedValue::sharedInstance();
    const APMPValue& element = elements_[static_cast<std::size_t>(index)];
    return element.get() == emptyValue().get() ? APMPUndefinedValue::sharedInstance() : element;
}

APMPValue APMPArrayValue::valueForProperty(const APMPValue& property, APMError* error) const
{
    if (APMPArrayValueLocal::isLengthName(*property))
        return APMPNumberValue::valueWithDouble(static_cast<double>(count()));
    const qint64 index = indexForProperty(*property);
    if (index >= 0)
        return valueAt(index);
    const QString name = property->stringValueOrError(error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    return properties_.valueForName(name);
}

void APMPArrayValue::removeValueForProperty(const APMPValue& property, APMError* error)
{
    const qint64 index = indexForProperty(*property);
    if (index >= 0) {
        if (index < count()) {
            APMPValue old = std::move(elements_[static_cast<std::size_t>(index)]);
            elements_[static_cast<std::size_t>(index)] = emptyValue();
            APMPReleaseValue(std::move(old));
        }
        return;
    }
    const QString name = property->stringValueOrError(error);
    if (!failed(error))
        properties_.removeValueForName(name);
}

QStringList APMPArrayValue::allPropertyNames() const
{
    QStringList names = properties_.allNames();
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (elements_[i].get() != emptyValue().get())
            names << QString::number(i);
    }
    return names;
}

bool APMPArrayValue::hasProperty(const APMPValue& property, APMError* error) const
{
    const qint64 index = indexForProperty(*property);
    if (index >= 0)
        return index < count() && !isHoleAt(index);
    const QString name = property->stringValueOrError(error);
    return !failed(error) && properties_.hasName(name);
}

APMPValueList APMPArrayValue::allElements() const
{
    APMPValueList values;
    appendAllElementsTo(values);
    return values;
}

void APMPArrayValue::appendAllElementsTo(APMPValueList& values) const
{
    values.reserve(values.size() + elements_.size());
    for (const APMPValue& element : elements_)
        values.push_back(
            element.get() == emptyValue().get() ? APMPUndefinedValue::sharedInstance() : element);
}

APMPValue APMPArrayValue::applyWithName(
    const QString& name, const APMPValueList& arguments, APMPScope& scope, APMError* error)
{
    if (const APMPValue* property = properties_.find(name))
        return APMPInvokeMethodProperty(*property, arguments, scope, error);
    const auto self = std::static_pointer_cast<APMPArrayValue>(shared_from_this());
    return APMPArrayCommandEvaluator::sharedInstance().evaluateCommand(name, self, arguments, scope, error);
}

APMPValueList APMPArrayValue::subarrayWithRange(qint64 start, qint64 length) const
{
    start = std::clamp<qint64>(start, 0, count());
    length = std::clamp<qint64>(length, 0, count() - start);
    return APMPValueList(elements_.begin() + start, elements_.begin() + start + length);
}

APMPValueList APMPArrayValue::spliceFrom(qint64 start, qint64 deleteCount, const APMPValueList& values, APMError* error)
{
    start = std::clamp<qint64>(start, 0, count());
    deleteCount = std::clamp<qint64>(deleteCount, 0, count() - start);
    const qint64 newCount = count() - deleteCount + static_cast<qint64>(values.size());
    if (newCount > APMPLimits::kMaxArrayLength) {
        set(error, LimitExceeded);
        return {};
    }
    if (!admit(newCount, error))
        return {};
    APMPValueList removed(std::make_move_iterator(elements_.begin() + start),
        std::make_move_iterator(elements_.begin() + start + deleteCount));
    elements_.erase(elements_.begin() + start, elements_.begin() + start + deleteCount);
    elements_.insert(elements_.begin() + start, values.begin(), values.end());
    settle();
    return removed;
}

bool APMPArrayValue::concat(const APMPValue& value, APMError* error)
{
    if (value->kind() == Kind::Control) {
        set(error, ArgumentType);
        return false;
    }
    if (const auto* array = APMPAs<APMPArrayValue>(value)) {
        if (count() + array->count() > APMPLimits::kMaxArrayLength) {
            set(error, LimitExceeded);
            return false;
        }
        if (!admit(count() + array->count(), error))
            return false;
        const APMPValueList copy = array->elements_; // the array may be this one
        elements_.insert(elements_.end(), copy.begin(), copy.end());
        return true;
    }
    if (!growTo(count() + 1, error))
        return false;
    elements_.back() = value;
    return true;
}

void APMPArrayValue::reverse()
{
    std::reverse(elements_.begin(), elements_.end());
}

APMPValue APMPArrayValue::removeFirstElement()
{
    if (elements_.empty())
        return APMPUndefinedValue::sharedInstance();
    APMPValue first = valueAt(0);
    elements_.erase(elements_.begin());
    settle();
    return first;
}

APMPValue APMPArrayValue::removeLastElement()
{
    if (elements_.empty())
        return APMPUndefinedValue::sharedInstance();
    APMPValue last = valueAt(count() - 1);
    elements_.pop_back();
    settle();
    return last;
}

qint64 APMPArrayValue::appendElements(const APMPValueList& values, APMError* error)
{
    if (count() + static_cast<qint64>(values.size()) > APMPLimits::kMaxArrayLength) {
        set(error, LimitExceeded);
        return count();
    }
    if (!admit(count() + static_cast<qint64>(values.size()), error))
        return count();
    elements_.insert(elements_.end(), values.begin(), values.end());
    return count();
}

qint64 APMPArrayValue::prependElements(const APMPValueList& values, APMError* error)
{
    if (count() + static_cast<qint64>(values.size()) > APMPLimits::kMaxArrayLength) {
        set(error, LimitExceeded);
        return count();
    }
    if (!admit(count() + static_cast<qint64>(values.size()), error))
        return count();
    elements_.insert(elements_.begin(), values.begin(), values.end());
    return count();
}

qint64 APMPArrayValue::indexOfValue(const APMPValue& value, qint64 start, APMError* error) const
{
    for (qint64 i = std::max<qint64>(start, 0); i < count(); ++i) {
        const bool equal = APMPStrictEquals(*elements_[static_cast<std::size_t>(i)], *value, error);
        if (failed(error))
            return -1;
        if (equal)
            return i;
    }
    return -1;
}

qint64 APMPArrayValue::lastIndexOfValue(const APMPValue& value, qint64 start, APMError* error) const
{
    for (qint64 i = std::min<qint64>(start, count() - 1); i >= 0; --i) {
        const bool equal = APMPStrictEquals(*elements_[static_cast<std::size_t>(i)], *value, error);
        if (failed(error))
            return -1;
        if (equal)
            return i;
    }
    return -1;
}

void APMPArrayValue::sortUsingFunctionValue(APMPFunctionValue* function, APMPScope& scope, APMError* error)
{
    const APMPRuntimeValue* hole = emptyValue().get();
    const auto compare = [&](const APMPValue& a, const APMPValue& b) -> int {
        const bool aHole = a.get() == hole;
        const bool bHole = b.get() == hole;
        if (aHole || bHole)
            return aHole == bHole ? 0 : (aHole ? 1 : -1);
        const bool aUndefined = a->kind() == Kind::Undefined;
        const bool bUndefined = b->kind() == Kind::Undefined;
        if (aUndefined || bUndefined)
            return aUndefined == bUndefined ? 0 : (aUndefined ? 1 : -1);
        if (failed(error))
            return 0; // after the first error every pair counts as equal
        if (function) {
            const APMPValue result = function->invokeWithArguments({ a, b }, scope, error);
            if (failed(error))
                return 0;
            const double order = APMPChargedDoubleValue(*result, scope, error);
            if (failed(error) || std::isnan(order))
                return 0;
            return order < 0 ? -1 : (order > 0 ? 1 : 0);
        }
        const QString first = APMPChargedStringValue(*a, scope, error);
        if (failed(error))
            return 0;
        const QString second = APMPChargedStringValue(*b, scope, error);
        if (failed(error))
            return 0;
        const int order = first.compare(second);
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    };

    // A merge sort of our own: a script's comparison need not be consistent,
    // and this sort stays within bounds and stable whatever it answers.
    APMPValueList values = std::move(elements_);
    elements_.clear();
    APMPValueList buffer(values.size());
    for (std::size_t width = 1; width < values.size(); width *= 2) {
        for (std::size_t low = 0; low < values.size(); low += 2 * width) {
            const std::size_t middle = std::min(low + width, values.size());
            const std::size_t high = std::min(low + 2 * width, values.size());
            std::size_t i = low, j = middle, out = low;
            while (i < middle && j < high)
                buffer[out++] = compare(values[j], values[i]) < 0 ? values[j++] : values[i++];
            while (i < middle)
                buffer[out++] = values[i++];
            while (j < high)
                buffer[out++] = values[j++];
        }
        values.swap(buffer);
    }
    // The comparison may have changed the array meanwhile; the sorted
    // elements replace whatever it holds now.
    APMPValueList replaced = std::move(elements_);
    elements_ = std::move(values);
    settle();
    APMPReleaseValues(std::move(replaced));
    APMPReleaseValues(std::move(buffer));
}

bool APMPArrayValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const
{
    if (this == &other)
        return true;
    if (other.kind() != kKind)
        return false;
    const auto& theirs = static_cast<const APMPArrayValue&>(other);
    if (theirs.count() != count())
        return false;
    const APMPNestingGuard guard(this);
    if (guard.isCycle() || guard.tooDeep())
        return false;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (!elements_[i]->isEqualToRuntimeValue(*theirs.elements_[i]))
            return false;
    }
    return true;
}

void APMPArrayValue::mark(APMPMarker& marker)
{
    if (markEpoch_ == marker.epoch())
        return;
    markEpoch_ = marker.epoch();
    properties_.markValues(marker);
    for (const APMPValue& element : elements_)
        marker.push(element.get());
}

void APMPArrayValue::sweep(quint64 epoch)
{
    if (markEpoch_ == epoch)
        return;
    APMPReleaseValues(std::move(elements_));
    elements_.clear();
    settle();
    properties_.clear();
}
