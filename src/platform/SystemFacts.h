#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Facts about the computer and the session the program runs in, read from
// the system each time they are asked for (except where noted), so a change
// of time zone or system version between two calls is seen.
class SystemFacts {
public:
    virtual ~SystemFacts() = default;

    // The operating system's version ("12" on Debian 12); empty when the
    // system does not say.
    virtual QString osVersion() const = 0;
    // The computer's model name; "linux" when the firmware does not tell.
    virtual QString deviceModel() const = 0;
    // The user's preferred languages, most preferred first ("en-US").
    virtual QStringList preferredLanguages() const = 0;
    // Offset of local time from UTC, in seconds (east positive).
    virtual int timeZoneOffsetSeconds() const = 0;

    // The backend of this system.
    static SystemFacts& shared();
};

// The facts of a Linux system: the version from the os-release file
// (VERSION_ID), the model from the firmware's DMI product name, languages
// and time zone from Qt's locale and time objects.
class LinuxSystemFacts final : public SystemFacts {
public:
    static const QString kDefaultOsReleasePath; // "/etc/os-release"
    static const QString kDefaultProductNamePath; // "/sys/class/dmi/id/product_name"
    static const QString kUnknownDeviceModel; // "linux"

    explicit LinuxSystemFacts(
        QString osReleasePath = kDefaultOsReleasePath, QString productNamePath = kDefaultProductNamePath);

    QString osVersion() const override;
    QString deviceModel() const override;
    QStringList preferredLanguages() const override;
    int timeZoneOffsetSeconds() const override;

    // The VERSION_ID of os-release contents: shell-style "KEY=value" lines,
    // the value optionally in single or double quotes (backslash escapes
    // inside double quotes); empty when absent.
    static QString versionIDFromOsRelease(const QByteArray& contents);

private:
    QString osReleasePath_;
    QString productNamePath_;
};

} // namespace platform
