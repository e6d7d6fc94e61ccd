#pragma once

#include <QString>

#include <memory>
#include <mutex>

class APMMonitor;

namespace platform {
class SystemFacts;
} // namespace platform

// The device facts that go into every bundle and that the OS-update check
// compares: model, OS version, preferred language and time-zone offset.
// The model does not change while the process runs and is asked once; the
// others are read on every call.
class APMEnvironmentInfo {
public:
    // Over the running system, logging to the library's monitor.
    static APMEnvironmentInfo& sharedInstance();

    // `monitor` null: the library's monitor.
    // The facts must outlive this object.
    explicit APMEnvironmentInfo(const platform::SystemFacts& facts, APMMonitor* monitor = nullptr);

    APMEnvironmentInfo(const APMEnvironmentInfo&) = delete;
    APMEnvironmentInfo& operator=(const APMEnvironmentInfo&) = delete;

    // Asked once; an empty answer is logged (level 2, code 14000) and kept.
    QString deviceModel();
    QString deviceOSVersion();
    // The most preferred language, lower-cased; a null QString when the user
    // has none (level 2, code 14001).
    QString userDefaultLanguage();
    // Whole minutes, truncated toward zero.
    int timeZoneOffsetMinutes();

    // The platform name the collection, configuration and experiment
    // services know this library's hosts by: "macos".
    static QString platformName();

private:
    APMMonitor& monitor() const;

    const platform::SystemFacts& facts_;
    APMMonitor* const monitor_;
    std::once_flag deviceModelOnce_;
    QString deviceModel_;
};
