#pragma once

#include "analytics/experiments/APMEExperiment.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class APMPBSnapshot;
class NANOMessageBase;

// The experiments of one SDK as the experiment service delivered them: one
// experiment per id, each with its flags. A plain value: the manager and the
// fetch task each keep their own copies.
class APMESnapshot {
public:
    explicit APMESnapshot(QString sdkName = QString(), double timestamp = 0);

    // The snapshot of the SDK with copies of the experiments (a later one of
    // an id replaces an earlier one), timed as given and not marked.
    // Refused, logged at level 2: a name that is missing, not a text or empty
    // (840000), no experiment list (840001), an element that is no
    // experiment (840002).
    static std::optional<APMESnapshot> initWithSDKName(const QVariant& sdkName,
        const std::optional<QList<std::shared_ptr<const APMEExperiment>>>& experiments, double timestamp);
    // The snapshot of a wire message, timed as given and not marked;
    // nothing when the message has no SDK name.
    static std::optional<APMESnapshot> initWithProtobuf(const APMPBSnapshot& message, double timestamp);
    // The wire form: the SDK name and every experiment with its flags.
    std::unique_ptr<APMPBSnapshot> proto() const;

    const QString& sdkName() const { return sdkName_; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    // Set on a pending snapshot whose SDK activates it itself; a pending
    // snapshot without the mark is activated at the next start.
    bool manuallyActivated() const { return manuallyActivated_; }
    void setManuallyActivated(bool marked) { manuallyActivated_ = marked; }

    // Ascending by id.
    QList<APMEExperiment> experiments() const { return experimentsByID_.values(); }
    // The experiment, replacing any earlier one of its id.
    void setExperiment(const APMEExperiment& experiment);
    // Adds the flag to the experiment of the id, making the experiment when
    // there is none. Refused, logged at level 2: no id (840003), no flag or
    // a message that is not a flag (840004).
    void addFlag(const std::shared_ptr<const NANOMessageBase>& flag, const QVariant& experimentID);
    // Flags given as name and value (a text or a number), in the experiment
    // of the id (made when there is none, flags or not); a later call for
    // the same id adds to and replaces the earlier flags.
    void addFlags(const QVariantMap& flags, qint64 experimentID);
    // The experiment of that id with these flags, replacing any earlier one.
    void setExperiment(qint64 experimentID, const QVariantMap& flags);
    // Each experiment's flag values by name.
    QMap<qint64, QVariantMap> flagsByExperimentID() const;
    // Ascending.
    QList<qint64> experimentIDs() const { return experimentsByID_.keys(); }
    // The value of the first experiment (by ascending id) that sets the
    // flag; an invalid QVariant when none does.
    QVariant flagByName(const QString& name) const;

private:
    QString sdkName_;
    double timestamp_;
    bool manuallyActivated_ = false;
    QMap<qint64, APMEExperiment> experimentsByID_;
};
