#pragma once

#include "platform/Executor.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

// Keeps a page view, and with it the browser engine's page and helper
// processes, only while a window that shows it is open. The view is built
// when the watched widget is shown (or ahead of a show, through whenReady)
// and let go a while after the widget was hidden; a show in between keeps
// it. A minimised window still counts as open. A while after the release,
// once the engine has finished tearing the page down, `settle` runs: by
// default it hands the memory the engine freed back to the system, since
// the program goes on running in the tray. Main thread.
class PageViewLifetime : public QObject {
public:
    // Builds the view and starts loading its page; `ready` is called once the
    // page has loaded (or failed to).
    using Build = std::function<void(std::function<void()> ready)>;
    // Lets the view go (the settings it showed stay in the settings file).
    using Release = std::function<void()>;
    // Runs a while after a release that no show undid.
    using Settle = std::function<void()>;

    // Long enough that closing and reopening at once does not rebuild.
    static constexpr double kReleaseDelay = 20.0;
    // A page that stops loading without reporting back does not keep its
    // window hidden longer than this after its last sign of progress. A busy
    // computer starts a page slowly: shown too early, the window would show an
    // empty panel.
    static constexpr double kReadyTimeout = 10.0;
    // The engine ends the page's helper process and frees its state in the
    // seconds after the view is gone.
    static constexpr double kSettleDelay = 5.0;

    // The default settle: the allocator's free pages and this process's
    // copies of unchanged library pages (the engine's code above all) go
    // back to the system.
    static void returnEngineMemory();

    PageViewLifetime(QWidget* watched, platform::Executor& queue, Build build, Release release,
        double releaseDelay = kReleaseDelay, Settle settle = &PageViewLifetime::returnEngineMemory);
    ~PageViewLifetime() override;

    // Builds the view when it is not there; `show` runs once its page is
    // ready (at once when it already is). An empty `show` only builds.
    void whenReady(std::function<void()> show);
    // The page is still loading: the wait for it starts again.
    void pageProgressed();
    bool isBuilt() const { return built_; }
    bool isReady() const { return ready_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void pageReady(quint64 generation);
    void cancelRelease();
    void release();

    QPointer<QWidget> watched_;
    platform::Executor& queue_;
    Build build_;
    Release release_;
    Settle settle_;
    double releaseDelay_;
    bool built_ = false;
    bool ready_ = false;
    quint64 generation_ = 0; // a late answer of a page already let go is ignored
    platform::TaskId releaseTask_ = 0;
    platform::TaskId settleTask_ = 0;
    platform::TaskId readyTask_ = 0;
    std::function<void()> readyTimeout_; // the current page's "loaded", for the wait
    std::vector<std::function<void()>> waiting_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
