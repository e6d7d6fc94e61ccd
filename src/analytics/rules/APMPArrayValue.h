#pragma once

#include "analytics/rules/APMPPropertyMap.h"

class APMPElementAccount;
class APMPFunctionValue;

// An array: ordered elements with holes, plus named properties. A property
// is an index when it is a number value, or a string value whose number is
// finite, not negative and whole ("2", 2 and 2.0 are one index); anything
// else names a property. Arrays hold at most APMPLimits::kMaxArrayLength
// elements; growing past that fails with error 19, and so does growing past
// what the runtime's element account (APMPObjectManager) still admits.
class APMPArrayValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Array;

    // The hole marker: never handed out by reads.
    static const APMPValue& emptyValue();

    APMPArrayValue();
    explicit APMPArrayValue(APMPValueList elements);
    ~APMPArrayValue() override;

    // Charges the elements held now, and all later growth, to a runtime's
    // account. When the account cannot take them the array drops its
    // elements and reports error 19.
    bool attachAccount(std::shared_ptr<APMPElementAccount> account, APMError* error);

    // The work of converting this array to text, in elements visited
    // (nested arrays included) and code units of the text built from them
    // (separators and the texts it holds), counted only up to just past
    // `allowance`.
    qint64 conversionUnits(qint64 allowance) const;

    // Elements joined by the separator; holes, undefined and null give "".
    QString stringValueWithSeparator(const QString& separator, APMError* error) const;
    QString stringValueOrError(APMError* error) const override;
    double doubleValueOrError(APMError* error) const override;
    bool booleanValueOrError(APMError*) const override { return true; }

    bool setLength(qint64 count, APMError* error);
    bool setValueForProperty(const APMPValue& value, const APMPValue& property, APMError* error);
    APMPValue valueForProperty(const APMPValue& property, APMError* error) const;
    void removeValueForProperty(const APMPValue& property, APMError* error);
    qint64 count() const { return static_cast<qint64>(elements_.size()); }
    // Named properties, then the indices of present elements, ascending.
    QStringList allPropertyNames() const;
    bool hasProperty(const APMPValue& property, APMError* error) const;
    // Holes read as undefined.
    APMPValueList allElements() const;
    // The same, added at the end of the list.
    void appendAllElementsTo(APMPValueList& values) const;
    // The element at an index below the count; null for a hole.
    const APMPRuntimeValue* elementAt(qint64 index) const
    {
        const APMPValue& element = elements_[static_cast<std::size_t>(index)];
        return element.get() == emptyValue().get() ? nullptr : element.get();
    }
    APMPValue valueAt(qint64 index) const;
    bool isHoleAt(qint64 index) const { return elements_[static_cast<std::size_t>(index)].get() == emptyValue().get(); }

    APMPValue applyWithName(const QString& name, const APMPValueList& arguments, APMPScope& scope,
        APMError* error) override;

    // Elements of the range, holes kept (start and length clamped).
    APMPValueList subarrayWithRange(qint64 start, qint64 length) const;
    // Removes the clamped range, inserts the values there; the removed elements.
    APMPValueList spliceFrom(qint64 start, qint64 deleteCount, const APMPValueList& values, APMError* error);
    bool concat(const APMPValue& value, APMError* error);
    void reverse();
    APMPValue removeFirstElement();
    APMPValue removeLastElement();
    qint64 appendElements(const APMPValueList& values, APMError* error);
    qint64 prependElements(const APMPValueList& values, APMError* error);
    qint64 indexOfValue(const APMPValue& value, qint64 start, APMError* error) const;
    qint64 lastIndexOfValue(const APMPValue& value, qint64 start, APMError* error) const;
    // Holes last, then undefined; others by the function's result or by
    // text. The sort always completes; the first error is reported.
    void sortUsingFunctionValue(APMPFunctionValue* function, APMPScope& scope, APMError* error);

    // Same count and pairwise equal elements; named properties not compared.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;

    void mark(APMPMarker& marker) override;
    void sweep(quint64 epoch) override;

    // The index a property value stands for, or -1 for a name; a whole
    // number too large to hold in an array gives kMaxArrayLength.
    static qint64 indexForProperty(const APMPRuntimeValue& property);

private:
    bool growTo(qint64 count, APMError* error);
    // Charges the account for growth to `newCount` elements; error 19 when
    // it cannot take them. settle() credits what the array no longer holds.
    bool admit(qint64 newCount, APMError* error);
    void settle();

    APMPValueList elements_;
    std::shared_ptr<APMPElementAccount> account_;
    qint64 accounted_ = 0; // elements charged to the account
    APMPPropertyMap properties_;
    quint64 markEpoch_ = 0;
};
