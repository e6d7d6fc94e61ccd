#pragma once

#include <QString>
#include <QStringList>

// The raw device facts as the system answers them. APMEnvironmentInfo reads
// them through this, so its rules (once-only model, lower-cased language,
// whole minutes of offset) can be checked against a scripted source.
class APMEnvironmentSource {
public:
    virtual ~APMEnvironmentSource() = default;

    // The machine's model name; empty when it cannot be told (errno then
    // says why).
    virtual QString deviceModel() = 0;
    virtual QString systemVersion() = 0;
    // The user's languages, most preferred first.
    virtual QStringList preferredLanguages() = 0;
    // The local time zone's offset from GMT now, in seconds.
    virtual int secondsFromGMT() = 0;
};
