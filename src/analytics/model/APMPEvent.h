#pragma once

#include <QString>
#include <QVariantMap>

// An event in the form that event-editing programs see and change: a public
// name, a time in seconds since 1970 and parameters as plain values (numbers,
// texts, and lists of dictionaries of the same for item arrays).
class APMPEvent {
public:
    APMPEvent(const QString& name, double timestamp, const QVariantMap& parameters);

    const QString& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    const QVariantMap& parameters() const { return parameters_; }

private:
    QString name_;
    double timestamp_;
    QVariantMap parameters_;
};
