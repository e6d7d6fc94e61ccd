#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QHash>

class APMPArrayValue;

// The methods that programs call on array values ("push", "map", "sort" and
// the rest). One shared instance, immutable once made. New arrays come from
// the object manager, so the collector knows them.
class APMPArrayCommandEvaluator {
public:
    using Handler = APMPValue (*)(
        const std::shared_ptr<APMPArrayValue>& array, const APMPValueList& values, APMPScope& scope, APMError* error);

    static APMPArrayCommandEvaluator& sharedInstance();

    // Evaluates the argument statements, then runs the method; an unknown
    // method is error 17.
    APMPValue evaluateCommand(const QString& name, const std::shared_ptr<APMPArrayValue>& array,
        const APMPValueList& arguments, APMPScope& scope, APMError* error) const;
    QStringList allSupportedCommands() const { return handlers_.keys(); }

private:
    APMPArrayCommandEvaluator();
    QHash<QString, Handler> handlers_;
};
