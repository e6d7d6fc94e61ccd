#include "analytics/base/APMEnvironmentInfo.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "platform/SystemFacts.h"

#include <cerrno>
#include <cstring>

APMEnvironmentInfo& APMEnvironmentInfo::sharedInstance()
{
    static APMEnvironmentInfo instance(platform::SystemFacts::shared());
    return instance;
}

APMEnvironmentInfo::APMEnvironmentInfo(const platform::SystemFacts& facts, APMMonitor* monitor)
    : facts_(facts)
    , monitor_(monitor)
{
}

APMMonitor& APMEnvironmentInfo::monitor() const
{
    return monitor_ ? *monitor_ : APMLibrary::monitor();
}

QString APMEnvironmentInfo::platformName()
{
    return QStringLiteral("macos");
}

QString APMEnvironmentInfo::deviceModel()
{
    std::call_once(deviceModelOnce_, [this] {
        errno = 0;
        deviceModel_ = facts_.deviceModel();
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
    return facts_.osVersion();
}

QString APMEnvironmentInfo::userDefaultLanguage()
{
    const QStringList languages = facts_.preferredLanguages();
    if (languages.isEmpty()) {
        monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 14001, QStringLiteral("Failed to get preferred language"));
        return QString();
    }
    return languages.first().toLower();
}

int APMEnvironmentInfo::timeZoneOffsetMinutes()
{
    return facts_.timeZoneOffsetSeconds() / 60;
}
