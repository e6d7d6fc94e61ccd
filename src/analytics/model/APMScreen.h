#pragma once

#include "analytics/model/EventParameterLimits.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

// One screen the user saw: its name and class as the application named them
// (either may be absent), the number of this occurrence and when it was
// reported.
class APMScreen {
public:
    APMScreen() = default;
    APMScreen(const QString& name, const QString& className, qint64 instanceID)
        : name_(name)
        , className_(className)
        , instanceID_(instanceID)
    {
    }

    // A copy is the same screen occurrence: name, class and instance id.
    APMScreen copy() const { return APMScreen(name_, className_, instanceID_); }

    const QString& name() const { return name_; }
    const QString& className() const { return className_; }
    qint64 instanceID() const { return instanceID_; }
    bool isManuallyTracked() const { return isManuallyTracked_; }
    void setIsManuallyTracked(bool tracked) { isManuallyTracked_ = tracked; }
    double eventTimestamp() const { return eventTimestamp_; }
    void setEventTimestamp(double timestamp) { eventTimestamp_ = timestamp; }

private:
    QString name_; // null: none
    QString className_; // null: none
    qint64 instanceID_ = 0;
    bool isManuallyTracked_ = false;
    double eventTimestamp_ = 0;
};

// A screen's name or class as a parameter value (an APMValue string).
QVariant APMScreenText(const QString& text);
// The parameters that place an event on a screen, values as APMValue:
// "_si" the instance id, "_sc" the class and "_sn" the name when usable. An
// unusable class leaves "_si" alone (level 3, code 31015; an empty one is
// noted with code 31014).
QVariantMap APMScreenParametersForScreen(const APMScreen& screen, const EventParameterLimits& limits = {});
// The same for the screen left behind, as "_pi", "_pc", "_pn"; silent.
QVariantMap APMPreviousScreenParametersForScreen(
    const APMScreen& screen, const EventParameterLimits& limits = {});
// Whether screens are discovered without the host's "screen_view" events:
// never, screens are known only from those events.
bool APMAutomaticScreenReportingEnabled();
