#pragma once

#include "analytics/rules/APMPLoggerDelegate.h"

class APMMonitor;

// The log sink of rule programs: every line goes to the analytics monitor
// with message code 24005, at a monitor level chosen from the program's
// level and the silent and monitored flags.
class APMPixieLogger final : public APMPLoggerDelegate {
public:
    static constexpr qint64 kMessageCode = 24005;

    // Logs to the engine's monitor.
    APMPixieLogger();
    explicit APMPixieLogger(APMMonitor& monitor);

    void logWithLevel(qint64 level, const QString& message, const QStringList& context, bool silent,
        bool monitored) override;

    //   rule level  silent  monitored  monitor level
    //   2           any     any        8
    //   3           any     any        7
    //   5           yes     any        5
    //   5           no      yes        4
    //   5           no      no         3
    //   6           yes     any        2
    //   6           no      yes        1
    //   6           no      no         0
    //   other       any     any        6
    static qint64 monitorLevelForRuleLevel(qint64 level, bool silent, bool monitored);

private:
    APMMonitor& monitor_;
};
