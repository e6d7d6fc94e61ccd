#pragma once

// Header only: it implements an interface of the analytics library, which
// the fakes library does not link.

#include "analytics/base/APMEnvironmentSource.h"

#include <QMutex>

#include <cerrno>

namespace fakes {

// Device facts from a script; counts how often each was asked. An empty
// model sets errno to `modelErrno`, as a failed system query would.
class FakeEnvironmentSource final : public APMEnvironmentSource {
public:
    QString deviceModel() override
    {
        QMutexLocker lock(&mutex_);
        ++modelQueries;
        if (model.isEmpty())
            errno = modelErrno;
        return model;
    }
    QString systemVersion() override
    {
        QMutexLocker lock(&mutex_);
        ++versionQueries;
        return version;
    }
    QStringList preferredLanguages() override
    {
        QMutexLocker lock(&mutex_);
        return languages;
    }
    int secondsFromGMT() override
    {
        QMutexLocker lock(&mutex_);
        return offsetSeconds;
    }

    QString model = QStringLiteral("Test Machine 1");
    int modelErrno = ENOENT;
    QString version = QStringLiteral("12");
    QStringList languages { QStringLiteral("en-US") };
    int offsetSeconds = 0;
    int modelQueries = 0;
    int versionQueries = 0;

private:
    QMutex mutex_;
};

} // namespace fakes
