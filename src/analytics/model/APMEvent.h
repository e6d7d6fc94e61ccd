#pragma once

#include "analytics/model/APMEventParameters.h"
#include "analytics/model/EventParameterLimits.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class APMPBEvent;
class APMPEvent;

// Seconds as whole milliseconds, truncated toward zero, for the wire forms;
// nothing when the seconds are not a number or the milliseconds fall outside
// the int64 range.
std::optional<qint64> APMMillisecondsFromSeconds(double seconds);

// One logged event on its way through the measurement pipeline: where it
// came from, its name, when it happened (seconds since 1970) and its cleaned
// parameters. The origin is kept in the parameter "_o"; the flags conversion
// ("_c"), realtime ("_r") and debug ("_dbg") are int64 parameters of 1.
//
// An event keeps the parameter limits it was made with; its copies and the
// parameters added later are cleaned against the same limits. Not locked: an
// event belongs to one worker at a time.
class APMEvent {
public:
    // Nothing when the origin is not a valid internal origin (or a forwarded
    // one, ending in "+vtm"), or the name is not a valid internal event name
    // (and, with isPublic, a valid public one). The parameters are cleaned
    // under the public rules when isPublic is set.
    static std::optional<APMEvent> initWithOrigin(const QString& origin, bool isPublic, const QString& name,
        double timestamp, double previousTimestamp, const QVariantMap& parameters,
        const EventParameterLimits& limits);

    // The event read back from its wire form, made the way events are made
    // (not public, parameters cleaned again). Nothing when the name or origin
    // is refused or the "_o" parameter is not a text. Parameters without a
    // name or of a kind an event does not keep (floats, item arrays) are
    // left out, logged.
    static std::optional<APMEvent> initWithEventProto(
        const APMPBEvent& proto, const EventParameterLimits& limits);
    // The wire form: times in milliseconds (the previous time only when
    // there is one), every parameter, item arrays one level deep. A time
    // whose milliseconds are not a number or fall outside the int64 range
    // is left unset.
    std::unique_ptr<APMPBEvent> protoEvent() const;
    // The wire form's bytes, written directly: exactly what encoding
    // protoEvent() gives (logging the same refused items), without the
    // record. The raw-event row leaves the name out, as it has a column of
    // its own.
    enum class NameInWireForm { Include, Leave };
    QByteArray protoBytes(NameInWireForm name = NameInWireForm::Include) const;

    // The event as event-editing programs see it (public name, plain
    // values) and back (internal name, origin from "_o" or "app", no
    // previous time).
    APMPEvent editEvent() const;
    static std::optional<APMEvent> eventFromEditEvent(
        const APMPEvent& editEvent, const EventParameterLimits& limits);

    // Copies made the way events are made (parameters cleaned again, under
    // the internal rules), with one thing changed.
    APMEvent copyWithPreviousTimestamp(double previousTimestamp) const;
    APMEvent copyWithParameters(const QVariantMap& parameters) const;

    const QString& origin() const { return origin_; }
    const QString& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const EventParameters& parameters() const { return parameters_; }
    const EventParameterLimits& limits() const { return limits_; }

    // Conversions and ad impressions must carry a valid value and currency.
    bool shouldValidateParams() const;

    bool isConversion() const;
    // Marking a conversion checks value and currency first; unmarking one
    // records that the conversion limit was reached.
    void setConversion(bool conversion);
    bool isRealtime() const;
    void setRealtime(bool realtime);
    bool isDebug() const;
    void setDebug(bool debug);

    // Adds default parameters (cleaned under the public rules) without
    // replacing any the event already has.
    void applyParameters(const QVariantMap& parameters);
    // Adds "_si" and, when present and valid, "_sc" and "_sn" from the screen
    // dictionary; false when the event already has screen parameters or the
    // screen's are unusable.
    bool addScreenParameters(const QVariantMap& screen);

private:
    APMEvent() = default;
    static APMEvent make(const QString& origin, bool isPublic, const QString& name, double timestamp,
        double previousTimestamp, const QVariantMap& parameters, const EventParameterLimits& limits);
    bool hasInt64One(const QString& key) const;
    void setFlag(const QString& key, bool on);

    QString origin_;
    QString name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    EventParameters parameters_;
    EventParameterLimits limits_;
};
