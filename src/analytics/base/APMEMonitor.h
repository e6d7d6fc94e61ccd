#pragma once

#include <QString>
#include <QVariant>

class APMMonitor;

// The logging front of the experiment classes: every call goes unchanged to
// the analytics monitor it wraps, so experiment reports share the monitor's
// levels, console lines and sampled health records.
class APMEMonitor {
public:
    explicit APMEMonitor(APMMonitor& monitor);

    APMEMonitor(const APMEMonitor&) = delete;
    APMEMonitor& operator=(const APMEMonitor&) = delete;

    APMMonitor& monitor() const { return monitor_; }

    void logWithLevel(qint64 level, qint64 messageCode, const QString& message);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
        const QVariant& context2);
    void logWithLevel(qint64 level, qint64 messageCode, const QString& message, const QVariant& context1,
        const QVariant& context2, const QVariant& context3);
    void clearMonitoringData();

private:
    APMMonitor& monitor_;
};
