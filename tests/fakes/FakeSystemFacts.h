#pragma once

#include "platform/SystemFacts.h"

#include <QMutex>
#include <QMutexLocker>

#include <cerrno>

namespace fakes {

// System facts the test sets; safe to read from any thread while a test
// changes them (an OS update between two launches, for example). Counts how
// often the model and the version were asked; an empty model sets errno, as
// a failed system query would.
class FakeSystemFacts final : public platform::SystemFacts {
public:
    QString osVersion() const override
    {
        QMutexLocker lock(&mutex_);
        ++versionQueries_;
        return facts_.osVersion;
    }
    QString deviceModel() const override
    {
        QMutexLocker lock(&mutex_);
        ++modelQueries_;
        if (facts_.deviceModel.isEmpty())
            errno = ENOENT;
        return facts_.deviceModel;
    }
    QStringList preferredLanguages() const override { return get(&Facts::languages); }
    int timeZoneOffsetSeconds() const override { return get(&Facts::offsetSeconds); }

    void setOsVersion(const QString& value) { set(&Facts::osVersion, value); }
    void setDeviceModel(const QString& value) { set(&Facts::deviceModel, value); }
    void setPreferredLanguages(const QStringList& value) { set(&Facts::languages, value); }
    void setTimeZoneOffsetSeconds(int value) { set(&Facts::offsetSeconds, value); }

    int modelQueries() const
    {
        QMutexLocker lock(&mutex_);
        return modelQueries_;
    }
    int versionQueries() const
    {
        QMutexLocker lock(&mutex_);
        return versionQueries_;
    }

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
    mutable int modelQueries_ = 0;
    mutable int versionQueries_ = 0;
};

} // namespace fakes
