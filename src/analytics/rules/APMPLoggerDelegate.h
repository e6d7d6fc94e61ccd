#pragma once

#include <QString>
#include <QStringList>

// Where the log lines of rule programs go. `level` is the program's own
// level; `silent` and `monitored` say which of the logger module's functions
// wrote the line.
class APMPLoggerDelegate {
public:
    virtual ~APMPLoggerDelegate() = default;
    virtual void logWithLevel(
        qint64 level, const QString& message, const QStringList& context, bool silent, bool monitored)
        = 0;
};
