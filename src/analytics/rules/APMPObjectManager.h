#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QStringList>

#include <memory>
#include <vector>

class APMPArrayValue;
class APMPElementAccount;
class APMPFunctionValue;
class APMPMapValue;
class APMPMarkable;
class APMPScope;

// The collector of one runtime. It knows every script object (function,
// array, map) made through its factories and the roots of the runtime, all
// by weak reference: ownership stays with whoever holds a value. A
// collection marks everything reachable from the live roots and makes every
// unmarked object drop what it holds, so that cycles among script objects
// fall apart and reference counting releases them. It also keeps the
// account of the elements all its arrays hold (APMPElementAccount), so that
// no program, in one run or across many, holds more than
// APMPLimits::kMaxLiveElements of them.
class APMPObjectManager {
public:
    APMPObjectManager();
    ~APMPObjectManager();
    APMPObjectManager(const APMPObjectManager&) = delete;
    APMPObjectManager& operator=(const APMPObjectManager&) = delete;

    // Factories: make the value and register it with the manager of the
    // scope's root (none for a scope without one). An array made with
    // elements the account cannot take comes back empty, with error 19.
    static std::shared_ptr<APMPFunctionValue> functionValueWithFunctionName(const QString& functionName,
        const QStringList& parameterNames, APMPValueList statements, const std::shared_ptr<APMPScope>& definingScope);
    static std::shared_ptr<APMPMapValue> mapValueWithScope(APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithScope(APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithArray(APMPValueList elements, APMPScope& scope, APMError* error);
    static std::shared_ptr<APMPArrayValue> subarrayWithArray(
        const APMPArrayValue& array, qint64 start, qint64 length, APMPScope& scope, APMError* error);

    // The elements, holes included, that the live arrays made here hold.
    qint64 liveElementCount() const;
    const std::shared_ptr<APMPElementAccount>& elementAccount() const { return elements_; }

    void addRoot(const std::shared_ptr<APMPMarkable>& root);
    void addObject(const APMPValue& object);

    // Live objects and roots.
    int trackedObjectCount() const;
    int rootCount() const;

    void collectGarbage();
    // Makes every tracked object drop what it holds: for the end of the
    // runtime, so that no cycle outlives it.
    void sweepEverything();

private:
    std::shared_ptr<APMPElementAccount> elements_;
    std::vector<std::weak_ptr<APMPMarkable>> roots_;
    std::vector<std::weak_ptr<APMPRuntimeValue>> objects_;
    std::size_t liveAfterCompaction_ = 0;
};
