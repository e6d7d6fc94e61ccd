#include "analytics/base/APMASLLogger.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/VULLogger.h"

#include <array>

APMASLLogger::APMASLLogger(VULLogger& logger)
    : logger_(logger)
{
}

int APMASLLogger::VULLoggerLevelFromLogLevel(qint64 logLevel)
{
    static constexpr std::array<int, 9> kLevels = {
        VULLogger::Error,
        VULLogger::Error,
        VULLogger::Error,
        VULLogger::Warning,
        VULLogger::Warning,
        VULLogger::Warning,
        VULLogger::Notice,
        VULLogger::Debug,
        VULLogger::Debug,
    };
    if (logLevel < 0 || logLevel >= static_cast<qint64>(kLevels.size()))
        return VULLogger::Warning;
    return kLevels[static_cast<size_t>(logLevel)];
}

void APMASLLogger::logMessage(
    const QString& message, const QString& logTag, qint64 messageCode, qint64 logLevel)
{
    logger_.log(VULLoggerLevelFromLogLevel(logLevel), logTag, APMMonitor::formattedMessageCode(messageCode),
        message, logLevel == APMMonitor::kLevelDebug);
}
