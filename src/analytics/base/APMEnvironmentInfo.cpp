#include "analytics/base/APMEnvironmentInfo.h"

#include "analytics/base/APMEnvironmentSource.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMSystemEnvironmentSource.h"

#include <cerrno>
#include <cstring>
#include <utility>

APMEnvironmentInfo& APMEnvironmentInfo::sharedInstance()
{
    static APMEnvironmentInfo instance(std::make_shared<APMSystemEnvironmentSource>());
    return instance;
}

APMEnvironmentInfo::APMEnvironmentInfo(std::shared_ptr<APMEnvironmentSource> source, APMMonitor* monitor)
    : source_(std::move(source))
    , monitor_(monitor)
{
}

APMMonitor& APMEnvironmentInfo::monitor() const
{
    return monitor_ ? *monitor_ : APMLibrary::monitor();
}

QString APMEnvironmentInfo::deviceModel()
{
    std::call_once(deviceModelOnce_, [this] {
        errno = 0;
        deviceModel_ = source_->deviceModel();
        if (deviceModel_.isEmpty()) {
            const int failure = errno;
            monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 14000, QStringLiteral("Failed to get device model"),
                QString::fromLocal8Bit(std::strerror(failure)));
        }
    });
    return deviceModel_;
}

QString APMEnvironmentInfo::deviceOSVersion()
{
    return source_->systemVersion();
}

QString APMEnvironmentInfo::userDefaultLanguage()
{
    const QStringList languages = source_->preferredLanguages();
    if (languages.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 14001, QStringLiteral("Failed to get preferred language"));
        return QString();
    }
    return languages.first().toLower();
}

int APMEnvironmentInfo::timeZoneOffsetMinutes()
{
    return source_->secondsFromGMT() / 60;
}
