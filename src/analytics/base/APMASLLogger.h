#pragma once

#include <QString>

class VULLogger;

// The monitor's console sink: maps the monitor's levels (0 to 8) onto the
// utilities logger's and writes one line per message with the log tag as
// service name.
class APMASLLogger {
public:
    explicit APMASLLogger(VULLogger& logger);

    // 3, 3, 3, 4, 4, 4, 5, 7, 7 for the levels 0 to 8; 4 for any other.
    static int VULLoggerLevelFromLogLevel(qint64 logLevel);

    // The message is written as it is (it is never used as a format).
    // Level 7 lines are written whatever the utilities logger's level.
    void logMessage(const QString& message, const QString& logTag, qint64 messageCode, qint64 logLevel);

    VULLogger& utilitiesLogger() const { return logger_; }

private:
    VULLogger& logger_;
};
