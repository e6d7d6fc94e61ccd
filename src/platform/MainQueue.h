#pragma once

#include "platform/Executor.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>

class QTimer;

namespace platform {

// Work for the thread that runs the Qt event loop. async() may be called
// from any thread; the task runs on the main thread at the next turn of the
// loop. Requires a QCoreApplication.
class MainQueue final : public QObject, public Executor {
    Q_OBJECT
public:
    static MainQueue& shared();
    static bool isMainThread();

    void async(std::function<void()> task) override;
    TaskId asyncAfter(double seconds, std::function<void()> task) override;
    void cancel(TaskId id) override;

private:
    MainQueue();
    void startTimer(TaskId id, int ms, std::function<void()> task);

    QMutex mutex_;
    TaskId nextId_ = 1;
    QHash<TaskId, QPointer<QTimer>> timers_;
    QSet<TaskId> notStarted_; // scheduled, timer not yet created
    QSet<TaskId> cancelledBeforeStart_;
};

} // namespace platform
