#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QHash>

// The methods that programs call on string values ("charAt", "split",
// "replace" and the rest). Positions and lengths count UTF-16 code units.
// One shared instance, immutable once made.
class APMPStringCommandEvaluator {
public:
    using Handler = APMPValue (*)(const QString& text, const APMPValueList& values, APMPScope& scope, APMError* error);

    static APMPStringCommandEvaluator& sharedInstance();

    // Evaluates the argument statements, then runs the method; an unknown
    // method is error 17.
    APMPValue evaluateCommand(const QString& name, const QString& text, const APMPValueList& arguments,
        APMPScope& scope, APMError* error) const;
    QStringList allSupportedCommands() const { return handlers_.keys(); }

private:
    APMPStringCommandEvaluator();
    QHash<QString, Handler> handlers_;
};
