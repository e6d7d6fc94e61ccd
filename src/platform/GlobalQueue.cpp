#include "platform/GlobalQueue.h"

#include <QThreadPool>

namespace platform {

void GlobalQueue::async(std::function<void()> task)
{
    QThreadPool::globalInstance()->start(std::move(task));
}

void GlobalQueue::waitForDone()
{
    QThreadPool::globalInstance()->waitForDone();
}

} // namespace platform
