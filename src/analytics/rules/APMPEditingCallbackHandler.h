#pragma once

#include "analytics/rules/APMPMarkable.h"
#include "analytics/rules/APMPRuntimeValue.h"

#include <QMap>

#include <memory>

class APMPEventContext;
class APMPFunctionValue;

// The rule callbacks a program registers through "internal.registerCallback",
// by kind ("edit" or "create") and priority, run on each event: every edit
// callback in ascending priority, then every create callback.
//
// An edit callback keeps its changes to the output event only when it
// returns a number other than 2 (as a 32-bit integer); any other result
// undoes them. A failing callback, of either kind, has its changes to the
// output event and the events it logged undone, and ends the run with its
// error: a failing program never leaves a half-edited event behind.
class APMPEditingCallbackHandler final : public APMPMarkable {
public:
    static constexpr int kMaxCallbacks = 1000;

    // Editing error 4 beyond 1000 callbacks in all, 3 for a kind other than
    // "edit" and "create". A taken priority becomes the kind's highest plus 1.
    bool registerWithPriority(
        qint64 priority, const std::shared_ptr<APMPFunctionValue>& callback, const QString& ruleType, APMError* error);

    bool triggerCallbacksWithScope(
        APMPScope& scope, const std::shared_ptr<APMPEventContext>& context, APMError* error);

    // 2 when the call fails, the result's 32-bit integer when it is a
    // number, otherwise -1.
    static int32_t invokeCallbackWithScope(
        APMPScope& scope, APMPFunctionValue& function, const APMPValue& eventHandler, APMError* error);

    // Priorities in the order the callbacks run.
    QList<qint64> editPriorities() const { return editCallbacks_.keys(); }
    QList<qint64> createPriorities() const { return createCallbacks_.keys(); }

    void mark(APMPMarker& marker) override;

private:
    using Callbacks = QMap<qint64, std::shared_ptr<APMPFunctionValue>>;
    static void addCallback(const std::shared_ptr<APMPFunctionValue>& callback, Callbacks& callbacks, qint64 priority);

    // Sorted by priority; priorities are kept in 64 bits so that "highest
    // plus 1" never overflows.
    Callbacks editCallbacks_;
    Callbacks createCallbacks_;
};
