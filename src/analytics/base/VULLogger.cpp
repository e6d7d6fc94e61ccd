#include "analytics/base/VULLogger.h"

#include <cstdio>

VULLogger& VULLogger::shared()
{
    static VULLogger* logger = new VULLogger(); // lives as long as the process
    return *logger;
}

bool VULLogger::isLoggableLevel(int level) const
{
    return level <= level_.load() || debugMode_.load();
}

void VULLogger::log(
    int level, const QString& service, const QString& messageCode, const QString& message, bool force)
{
    if (!force && !isLoggableLevel(level))
        return;
    QMutexLocker lock(&sinkMutex_);
    if (sink_) {
        sink_(level, service, messageCode, message);
        return;
    }
    const QByteArray line = QStringLiteral("%1[%2] %3\n").arg(service, messageCode, message).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

void VULLogger::setSink(Sink sink)
{
    QMutexLocker lock(&sinkMutex_);
    sink_ = std::move(sink);
}
