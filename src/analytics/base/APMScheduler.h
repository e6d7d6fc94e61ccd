#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {
class SerialQueue;
}

// The engine's worker queue: one serial queue on which every engine
// operation runs, one at a time, in the order it was posted. Work is tagged
// with a block identifier that only serves the log lines; an exception that
// escapes the work is logged and the queue goes on with its next item.
class APMScheduler {
public:
    // True off the main thread. On the main thread logs level 1, code 30001
    // with the method name and answers false; callers go on either way.
    static bool checkOnBackgroundThreadWithMethodName(const QString& methodName);

    explicit APMScheduler(const QString& workerQueueLabel);
    // Finishes the work already posted.
    ~APMScheduler();

    APMScheduler(const APMScheduler&) = delete;
    APMScheduler& operator=(const APMScheduler&) = delete;

    // Posts the work and returns at once. No work: level 1, code 30005.
    void scheduleOnWorkerQueueBlockID(const QString& blockID, std::function<void()> block);
    // Runs the work on the queue and waits for it; from a task of the queue
    // itself it runs inline (never a deadlock). No work: level 1, code 30002.
    void dispatchSyncOnWorkerQueueBlockID(const QString& blockID, const std::function<void()>& block);

    platform::SerialQueue& workerQueue() const { return *workerQueue_; }
    bool isOnWorkerQueue() const;

private:
    std::unique_ptr<platform::SerialQueue> workerQueue_;
};
