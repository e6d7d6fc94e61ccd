#include "ui/PageViewLifetime.h"

#include <QEvent>
#include <QWidget>

PageViewLifetime::PageViewLifetime(
    QWidget* watched, platform::Executor& queue, Build build, Release release, double releaseDelay)
    : watched_(watched)
    , queue_(queue)
    , build_(std::move(build))
    , release_(std::move(release))
    , releaseDelay_(releaseDelay)
{
    if (watched)
        watched->installEventFilter(this);
}

PageViewLifetime::~PageViewLifetime()
{
    *alive_ = false;
    cancelRelease();
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
    built_ = true;
    ready_ = false;
    const quint64 generation = ++generation_;
    std::weak_ptr<bool> alive = alive_;
    const auto ready = [this, alive, generation] {
        if (!alive.expired())
            pageReady(generation);
    };
    queue_.asyncAfter(kReadyTimeout, ready);
    build_(ready);
}

void PageViewLifetime::pageReady(quint64 generation)
{
    if (generation != generation_ || !built_ || ready_)
        return;
    ready_ = true;
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
    release_();
}
