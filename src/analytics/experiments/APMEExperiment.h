#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class APMPBExperiment;
class APMPBFlag;
class NANOMessageBase;

// One experiment of a snapshot: its id and its flags, one per name. Flags
// are kept as the wire messages they came in, so a flag keeps the kind of
// value it was given (an integer, a real, a string or a boolean) through
// the database and back. A plain value; flags are shared between copies and
// never changed after they were added.
class APMEExperiment {
public:
    using Flag = std::shared_ptr<const APMPBFlag>;

    // The experiment of the id with these flags (a later flag of a name
    // replaces an earlier one). Refused, logged at level 2: no id (870000),
    // an id that is not a number (870001), no flag list (870002), an element
    // that is not a flag message (870003).
    static std::optional<APMEExperiment> initWithExperimentID(
        const QVariant& experimentID, const std::optional<QList<std::shared_ptr<const NANOMessageBase>>>& flags);
    // The id of field 1 (0 when unset) and the flags of field 2.
    static APMEExperiment initWithProtobuf(const APMPBExperiment& message);

    qint64 experimentID() const { return experimentID_; }
    // By flag name.
    QList<Flag> flags() const { return flagsByName_.values(); }
    // Refused, logged at level 2: no flag (870004), a message that is not a
    // flag (870005), a flag without name (870006).
    void addFlag(const std::shared_ptr<const NANOMessageBase>& flag);
    // Nothing for an empty name (870007) or an unknown one.
    Flag flagWithName(const QString& name) const;
    // The wire form: field 1 the id, field 2 the flags.
    std::unique_ptr<APMPBExperiment> proto() const;

private:
    explicit APMEExperiment(qint64 experimentID);
    void storeFlag(const APMPBFlag& flag);

    qint64 experimentID_;
    QMap<QString, Flag> flagsByName_;
};
