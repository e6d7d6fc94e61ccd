#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <limits>

namespace platform {

MainQueue::MainQueue()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

MainQueue& MainQueue::shared()
{
    static MainQueue* queue = new MainQueue(); // lives as long as the process
    return *queue;
}

bool MainQueue::isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void MainQueue::async(std::function<void()> task)
{
    QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

static int delayToMs(double seconds)
{
    if (!(seconds > 0)) // negative, zero and NaN
        return 0;
    const double ms = std::ceil(seconds * 1000.0);
    if (ms >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(ms);
}

TaskId MainQueue::asyncAfter(double seconds, std::function<void()> task)
{
    TaskId id;
    {
        QMutexLocker lock(&mutex_);
        id = nextId_++;
        notStarted_.insert(id);
    }
    const int ms = delayToMs(seconds);
    QMetaObject::invokeMethod(
        this, [this, id, ms, task = std::move(task)]() mutable { startTimer(id, ms, std::move(task)); },
        Qt::QueuedConnection);
    return id;
}

void MainQueue::startTimer(TaskId id, int ms, std::function<void()> task)
{
    // One lock from "not started" to "timer registered", so a cancel() from
    // another thread always finds the task in one of the two sets.
    QMutexLocker lock(&mutex_);
    notStarted_.remove(id);
    if (cancelledBeforeStart_.remove(id))
        return;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5% early; a delayed task must never run
    // before its delay.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id, timer, task = std::move(task)] {
        bool live;
        {
            QMutexLocker lock(&mutex_);
            // A cancel() from another thread may land after the timer fired
            // but before this slot ran; the task must not run then.
            live = timers_.remove(id) > 0;
        }
        timer->deleteLater();
        if (live)
            task();
    });
    timers_.insert(id, timer);
    timer->start(ms);
}

void MainQueue::cancel(TaskId id)
{
    QMutexLocker lock(&mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        if (notStarted_.contains(id))
            cancelledBeforeStart_.insert(id);
        return;
    }
    QPointer<QTimer> timer = it.value();
    timers_.erase(it);
    lock.unlock();
    auto stop = [timer] {
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
    };
    if (isMainThread())
        stop();
    else
        QMetaObject::invokeMethod(this, stop, Qt::QueuedConnection);
}

} // namespace platform
