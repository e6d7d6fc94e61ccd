#pragma once

// Records what the analytics library writes to the console through the
// process-wide monitor, so that tests can check the level and message code of
// each line. Lines of silent levels (2 and 5) never reach the console and are
// not seen here.

#include "analytics/base/APMMonitor.h"
#include "analytics/base/VULLogger.h"
#include "analytics/base/APMASLLogger.h"
#include "analytics/engine/APMMeasurement.h"
#include "fakes/TempHome.h"
#include "platform/SerialQueue.h"

#include <QMutex>
#include <QString>

#include <vector>

struct RecordedLine {
    int utilitiesLevel = 0; // the monitor level as the console sees it
    qint64 code = 0;
    QString message; // with its contexts appended
};

class ValidatorLogRecorder {
public:
    ValidatorLogRecorder()
        : previousLevel_(VULLogger::shared().level())
    {
        useTestHome();
        VULLogger::shared().setLevel(VULLogger::Debug);
        VULLogger::shared().setSink(
            [this](int level, const QString&, const QString& code, const QString& message) {
                QMutexLocker lock(&mutex_);
                lines_.push_back({ level, code.mid(5).toLongLong(), message });
            });
    }

    ~ValidatorLogRecorder()
    {
        flush();
        VULLogger::shared().setSink({});
        VULLogger::shared().setLevel(previousLevel_);
    }

    ValidatorLogRecorder(const ValidatorLogRecorder&) = delete;
    ValidatorLogRecorder& operator=(const ValidatorLogRecorder&) = delete;

    std::vector<RecordedLine> lines()
    {
        flush();
        QMutexLocker lock(&mutex_);
        return lines_;
    }

    void clear()
    {
        flush();
        QMutexLocker lock(&mutex_);
        lines_.clear();
    }

    // Whether exactly one line of this monitor level and code was written.
    bool hasOnly(qint64 level, qint64 code)
    {
        const std::vector<RecordedLine> all = lines();
        return all.size() == 1 && all.front().code == code
            && all.front().utilitiesLevel == APMASLLogger::VULLoggerLevelFromLogLevel(level);
    }

    bool has(qint64 level, qint64 code)
    {
        for (const RecordedLine& line : lines()) {
            if (line.code == code && line.utilitiesLevel == APMASLLogger::VULLoggerLevelFromLogLevel(level))
                return true;
        }
        return false;
    }

    // The monitor keeps its sampled records and its debug switch in the
    // preferences; those of the test binary go to a folder of their own.
    // Call before the process-wide monitor is first used.
    static APMMonitor& useTestHome()
    {
        static fakes::TempHome home;
        return APMMeasurement::monitor();
    }

private:
    // Console lines are written on the monitor's queue; waiting for one empty
    // task there means every earlier line has arrived.
    static void flush()
    {
        if (auto* queue = dynamic_cast<platform::SerialQueue*>(APMMonitor::defaultEnvironment().queue))
            queue->sync([] {});
    }

    QMutex mutex_;
    std::vector<RecordedLine> lines_;
    int previousLevel_;
};
