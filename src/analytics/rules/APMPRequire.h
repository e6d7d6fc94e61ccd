#pragma once

#include "analytics/rules/APMPDynamicProvider.h"
#include "analytics/rules/APMPFunctionValue.h"

#include <QHash>

// The module loader that programs call as "require": one argument, the
// module name. Each module is made at most once per runtime: the first
// answer for a name (undefined for a name without a creator) is kept, and a
// creator registered later is not consulted for that name again. On an
// error nothing is kept.
class APMPRequire final : public APMPFunctionValue {
public:
    explicit APMPRequire(std::shared_ptr<APMPDynamicProvider> provider);

    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

    // The module for the name; null stands for undefined.
    APMPValue moduleForName(const QString& name, APMError* error);

    void mark(APMPMarker& marker) override;

private:
    std::shared_ptr<APMPDynamicProvider> provider_;
    QHash<QString, APMPValue> modules_;
};
