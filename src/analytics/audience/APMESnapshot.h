#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class APMPBSnapshot;

// The experiments of one SDK as the experiment service delivered them: for
// each experiment id, the flag values it sets (texts or numbers). A plain
// value: the manager and the fetch task each keep their own copies.
class APMESnapshot {
public:
    explicit APMESnapshot(QString sdkName = QString(), double timestamp = 0);

    // The snapshot of a wire message, timed as given and not marked;
    // nothing when the message has no SDK name. A later experiment of an id
    // replaces an earlier one; flags without name or value are left out.
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

    // Flags of a later call for the same id are merged over the earlier ones.
    void addFlags(const QVariantMap& flags, qint64 experimentID);
    // The experiment of that id, replacing any earlier one.
    void setExperiment(qint64 experimentID, const QVariantMap& flags);
    const QMap<qint64, QVariantMap>& flagsByExperimentID() const { return flagsByExperimentID_; }
    // Ascending.
    QList<qint64> experimentIDs() const { return flagsByExperimentID_.keys(); }
    // The value of the first experiment (by ascending id) that sets the
    // flag; an invalid QVariant when none does.
    QVariant flagByName(const QString& name) const;

private:
    QString sdkName_;
    double timestamp_;
    bool manuallyActivated_ = false;
    QMap<qint64, QVariantMap> flagsByExperimentID_;
};
