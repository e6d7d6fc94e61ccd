#pragma once

#include "analytics/rules/APMPFunctionValue.h"

#include <QVariant>

#include <functional>

// A module that hands programs one plain object from the host (a map, a
// list, a text or a number; an invalid QVariant when there is none), asked
// for anew at every call and converted to runtime values. The arguments of
// the call are ignored and not evaluated.
class APMPObjectProvider final : public APMPFunctionValue {
public:
    using ObjectProviderBlock = std::function<QVariant()>;

    APMPObjectProvider(QString name, ObjectProviderBlock block);

    const QString& name() const { return functionName(); }
    QVariant object() const;

    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    ObjectProviderBlock block_;
};
