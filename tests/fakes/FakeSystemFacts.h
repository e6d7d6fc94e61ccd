#pragma once

#include "platform/SystemFacts.h"

#include <QMutex>
#include <QMutexLocker>

namespace fakes {

// System facts the test sets; safe to read from any thread while a test
// changes them (an OS update between two launches, for example).
class FakeSystemFacts final : public platform::SystemFacts {
public:
    QString osVersion() const override { return get(&Facts::osVersion); }
    QString deviceModel() const override { return get(&Facts::deviceModel); }
    QStringList preferredLanguages() const override { return get(&Facts::languages); }
    int timeZoneOffsetSeconds() const override { return get(&Facts::offsetSeconds); }

    void setOsVersion(const QString& value) { set(&Facts::osVersion, value); }
    void setDeviceModel(const QString& value) { set(&Facts::deviceModel, value); }
    void setPreferredLanguages(const QStringList& value) { set(&Facts::languages, value); }
    void setTimeZoneOffsetSeconds(int value) { set(&Facts::offsetSeconds, value); }

private:
    struct Facts {
        QString osVersion = QStringLiteral("12");
        QString deviceModel = QStringLiteral("Test Model");
        QStringList languages { QStringLiteral("en-US") };
        int offsetSeconds = 0;
    };
    template <typename T> T get(T Facts::* member) const
    {
        QMutexLocker lock(&mutex_);
        return facts_.*member;
    }
    template <typename T> void set(T Facts::* member, const T& value)
    {
        QMutexLocker lock(&mutex_);
        facts_.*member = value;
    }

    mutable QMutex mutex_;
    Facts facts_;
};

} // namespace fakes
