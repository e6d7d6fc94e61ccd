#include "ui/SettingsPagesHost.h"

#include "platform/Resources.h"
#include "ui/PageViewLifetime.h"
#include "ui/ScriptMessageBridge.h"
#include "ui/ScriptMessageWebView.h"
#include "ui/UWHomeView.h"
#include "ui/WeakScriptMessageDelegate.h"

#include <QDir>
#include <QJsonValue>

namespace settings_pages_host {

const QString kPagesEntry = QStringLiteral("h5/index.html");
// The page takes this title three animation frames after it was asked: by
// then the frame after the first, with every call sent before, has gone
// through the engine's two frames of delay and is in the view. Nothing shows
// the page's title.
const QString kDrawnTitle = QStringLiteral("drawn %1");
const QString kMarkDrawnFrame = QStringLiteral("requestAnimationFrame(function () { requestAnimationFrame(function () {"
                                               " requestAnimationFrame(function () { document.title = %1; }); }); });");

} // namespace settings_pages_host

SettingsPagesHost::SettingsPagesHost(UWHomeView& view, platform::Executor& mainQueue, QStringList messageNames,
    QString pagesFolder, Hooks hooks, bool startsHidden)
    : view_(&view)
    , messageNames_(std::move(messageNames))
    , pagesFolder_(std::move(pagesFolder))
    , hooks_(std::move(hooks))
    , mainQueue_(mainQueue)
{
    relay_ = new WeakScriptMessageDelegate(&view);
    relay_->setUucDelegate(&view, [this](const QString& name, const QJsonValue& body) {
        if (hooks_.received)
            hooks_.received(name, body);
    });
    lifetime_ = std::make_unique<PageViewLifetime>(
        &view, mainQueue, [this](std::function<void()> ready) { build(std::move(ready)); },
        [this] {
            delete webView_.data();
            // A show waiting for a frame of the view let go is stale.
            drawnWaiting_.clear();
            drawnTitle_.clear();
            mainQueue_.cancel(drawnTimeout_);
            drawnTimeout_ = 0;
        });
    if (!startsHidden)
        lifetime_->whenReady({});
}

SettingsPagesHost::~SettingsPagesHost()
{
    *alive_ = false;
    if (drawnTimeout_)
        mainQueue_.cancel(drawnTimeout_);
    // The view and its page may outlive the host (the window owns them):
    // nothing of theirs reaches it afterwards.
    if (relay_)
        relay_->setUucDelegate(nullptr, {});
    if (webView_) {
        QObject::disconnect(webView_, &QWebEngineView::loadProgress, nullptr, nullptr);
        QObject::disconnect(webView_, &QWebEngineView::loadFinished, nullptr, nullptr);
        QObject::disconnect(webView_, &QWebEngineView::titleChanged, nullptr, nullptr);
    }
}

void SettingsPagesHost::build(std::function<void()> ready)
{
    if (!view_) {
        ready();
        return;
    }
    if (hooks_.built)
        hooks_.built();
    webView_ = new ScriptMessageWebView(messageNames_, relay_, view_->pageArea());
    view_->addPage(webView_);
    QObject::connect(webView_, &QWebEngineView::loadProgress, webView_, [this] {
        if (lifetime_)
            lifetime_->pageProgressed(); // slow, not stuck: the window waits for the page
    });
    QObject::connect(webView_, &QWebEngineView::loadFinished, webView_, [this, ready](bool ok) {
        if (ok && hooks_.loaded)
            hooks_.loaded();
        ready();
    });
    QObject::connect(webView_, &QWebEngineView::titleChanged, webView_, [this](const QString& title) {
        if (drawnTitle_.isEmpty() || title != drawnTitle_)
            return;
        drawnTitle_.clear();
        frameDrawn();
    });
    webView_->loadEntryPage(pagesFolder_.isEmpty()
            ? platform::Resources::path(settings_pages_host::kPagesEntry)
            : QDir(pagesFolder_).filePath(settings_pages_host::kPagesEntry));
}

void SettingsPagesHost::whenReady(std::function<void()> show)
{
    if (!show) {
        lifetime_->whenReady({});
        return;
    }
    lifetime_->whenReady([this, show = std::move(show)]() mutable { afterNextFrame(std::move(show)); });
}

void SettingsPagesHost::afterNextFrame(std::function<void()> show)
{
    if (!webView_) {
        show();
        return;
    }
    drawnWaiting_.push_back(std::move(show));
    if (drawnWaiting_.size() > 1)
        return; // the frame already asked for serves them all
    drawnTitle_ = settings_pages_host::kDrawnTitle.arg(++frameMarks_);
    std::weak_ptr<bool> alive = alive_;
    drawnTimeout_ = mainQueue_.asyncAfter(kDrawnTimeout, [this, alive] {
        if (!alive.expired())
            frameDrawn();
    });
    webView_->evaluate(settings_pages_host::kMarkDrawnFrame.arg(ScriptMessageBridge::stringLiteral(drawnTitle_)));
}

void SettingsPagesHost::frameDrawn()
{
    if (drawnTimeout_)
        mainQueue_.cancel(drawnTimeout_);
    drawnTimeout_ = 0;
    drawnTitle_.clear();
    const std::vector<std::function<void()>> waiting = std::move(drawnWaiting_);
    drawnWaiting_.clear();
    for (const auto& show : waiting)
        show();
}

void SettingsPagesHost::evaluate(const QString& script)
{
    if (webView_)
        webView_->evaluate(script);
}

ScriptMessageWebView* SettingsPagesHost::webView() const
{
    return webView_;
}
