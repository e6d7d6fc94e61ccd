#include "ui/PageViewLifetime.h"

#include "platform/ProcessMemory.h"

#include <QEvent>
#include <QWidget>

PageViewLifetime::PageViewLifetime(QWidget* watched, platform::Executor& queue, Build build, Release release,
    double releaseDelay, Settle settle)
    : watched_(watched)
    , queue_(queue)
    , build_(std::move(build))
    , release_(std::move(release))
    , settle_(std::move(settle))
    , releaseDelay_(releaseDelay)
{
    if (watched)
        watched->installEventFilter(this);
}

PageViewLifetime::~PageViewLifetime()
{
    *alive_ = false;
    cancelRelease();
    if (settleTask_)
        queue_.cancel(settleTask_);
    if (readyTask_)
        queue_.cancel(readyTask_);
}

void PageViewLifetime::returnEngineMemory()
{
    platform::ProcessMemory::trimHeap();
    // Not only the engine's code: the graphics stack its drawing used and
    // the toolkit's code for the window are idle too while the program waits
    // in the tray. What the tray touches again comes back from the page cache.
    platform::ProcessMemory::dropLibraryPages({ QStringLiteral("*") });
}

void PageViewLifetime::whenReady(std::function<void()> show)
{
    cancelRelease();
    if (!built_)
        build();
    if (!show)
        return;
    if (ready_) {
        show();
        return;
    }
    waiting_.push_back(std::move(show));
}

void PageViewLifetime::build()
{
    if (settleTask_)
        queue_.cancel(settleTask_); // the engine is in use again
    settleTask_ = 0;
    built_ = true;
    ready_ = false;
    const quint64 generation = ++generation_;
    std::weak_ptr<bool> alive = alive_;
    const auto ready = [this, alive, generation] {
        if (!alive.expired())
            pageReady(generation);
    };
    readyTimeout_ = ready;
    readyTask_ = queue_.asyncAfter(kReadyTimeout, ready);
    build_(ready);
}

void PageViewLifetime::pageProgressed()
{
    if (!built_ || ready_ || !readyTimeout_)
        return;
    queue_.cancel(readyTask_);
    readyTask_ = queue_.asyncAfter(kReadyTimeout, readyTimeout_);
}

void PageViewLifetime::pageReady(quint64 generation)
{
    if (generation != generation_ || !built_ || ready_)
        return;
    ready_ = true;
    queue_.cancel(readyTask_);
    readyTask_ = 0;
    readyTimeout_ = nullptr;
    const std::vector<std::function<void()>> waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& show : waiting)
        show();
}

bool PageViewLifetime::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == watched_) {
        if (event->type() == QEvent::Show) {
            whenReady({});
        } else if (event->type() == QEvent::Hide && !watched_->isVisible() && built_ && !releaseTask_) {
            std::weak_ptr<bool> alive = alive_;
            releaseTask_ = queue_.asyncAfter(releaseDelay_, [this, alive] {
                if (alive.expired())
                    return;
                releaseTask_ = 0;
                release();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

void PageViewLifetime::cancelRelease()
{
    if (releaseTask_)
        queue_.cancel(releaseTask_);
    releaseTask_ = 0;
}

void PageViewLifetime::release()
{
    if (!built_ || (watched_ && watched_->isVisible()))
        return;
    built_ = false;
    ready_ = false;
    ++generation_;
    waiting_.clear(); // a show asked for before the close is stale
    queue_.cancel(readyTask_);
    readyTask_ = 0;
    readyTimeout_ = nullptr;
    release_();
    if (!settle_)
        return;
    std::weak_ptr<bool> alive = alive_;
    settleTask_ = queue_.asyncAfter(kSettleDelay, [this, alive] {
        if (alive.expired())
            return;
        settleTask_ = 0;
        settle_();
    });
}
