#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QString>
#include <QVariant>

#include <functional>

// A module that hands programs one plain object from the host (a map, a
// list, a text or a number; an invalid QVariant when there is none), asked
// for anew at every call.
class APMPObjectProvider final : public APMPRuntimeValue {
public:
    using ObjectProviderBlock = std::function<QVariant()>;

    APMPObjectProvider(QString name, ObjectProviderBlock block);

    const QString& name() const { return name_; }
    QVariant object() const;

private:
    QString name_;
    ObjectProviderBlock block_;
};
