#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QString>
#include <QStringList>

#include <memory>

class APMPLoggerDelegate;

// The logger module of rule programs ("internal.logger"). Its three
// functions differ only in the flags they hand the sink: "log" (monitored),
// "silent"'s "log" (silent, monitored) and "unmonitored"'s "log".
class APMPMessageLogger final : public APMPRuntimeValue {
public:
    static const QString kFunctionName; // "internal.logger"

    explicit APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger);

    const QString& functionName() const { return kFunctionName; }
    const std::shared_ptr<APMPLoggerDelegate>& logger() const { return logger_; }

    void log(qint64 level, const QString& message, const QStringList& context = {});
    void logSilent(qint64 level, const QString& message, const QStringList& context = {});
    void logUnmonitored(qint64 level, const QString& message, const QStringList& context = {});

private:
    std::shared_ptr<APMPLoggerDelegate> logger_;
};
