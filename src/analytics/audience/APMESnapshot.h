#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// The experiments of one SDK as the experiment service delivered them: for
// each experiment id, the flag values it sets (texts or numbers).
class APMESnapshot {
public:
    explicit APMESnapshot(QString sdkName = QString(), double timestamp = 0);

    const QString& sdkName() const { return sdkName_; }
    double timestamp() const { return timestamp_; }

    // Flags of a later call for the same id are merged over the earlier ones.
    void addFlags(const QVariantMap& flags, qint64 experimentID);
    const QMap<qint64, QVariantMap>& flagsByExperimentID() const { return flagsByExperimentID_; }
    // Ascending.
    QList<qint64> experimentIDs() const { return flagsByExperimentID_.keys(); }
    // The value of the first experiment (by ascending id) that sets the
    // flag; an invalid QVariant when none does.
    QVariant flagByName(const QString& name) const;

private:
    QString sdkName_;
    double timestamp_;
    QMap<qint64, QVariantMap> flagsByExperimentID_;
};
