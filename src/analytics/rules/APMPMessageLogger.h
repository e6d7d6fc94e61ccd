#pragma once

#include "analytics/rules/APMPFunctionValue.h"

#include <QStringList>

#include <memory>

class APMPLoggerDelegate;

// The logger module of rule programs ("internal.logger"). Its three
// functions differ only in the flags they hand the sink: "log" (monitored),
// "silent"'s "log" (silent, monitored) and "unmonitored"'s "log". Calling
// the module itself yields undefined.
class APMPMessageLogger final : public APMPFunctionValue {
public:
    static const QString kFunctionName; // "internal.logger"

    explicit APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger);

    const std::shared_ptr<APMPLoggerDelegate>& logger() const { return logger_; }

    // What the three functions write, for the host.
    void log(qint64 level, const QString& message, const QStringList& context = {});
    void logSilent(qint64 level, const QString& message, const QStringList& context = {});
    void logUnmonitored(qint64 level, const QString& message, const QStringList& context = {});

    APMPValue invokeWithArguments(const APMPValueList& arguments, APMPScope& scope, APMError* error) override;

private:
    std::shared_ptr<APMPLoggerDelegate> logger_;
};
