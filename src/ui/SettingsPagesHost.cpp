#include "ui/SettingsPagesHost.h"

#include "platform/Resources.h"
#include "ui/PageViewLifetime.h"
#include "ui/ScriptMessageWebView.h"
#include "ui/UWHomeView.h"
#include "ui/WeakScriptMessageDelegate.h"

#include <QDir>
#include <QJsonValue>

namespace settings_pages_host {

const QString kPagesEntry = QStringLiteral("h5/index.html");

} // namespace settings_pages_host

SettingsPagesHost::SettingsPagesHost(UWHomeView& view, platform::Executor& mainQueue, QStringList messageNames,
    QString pagesFolder, Hooks hooks, bool startsHidden)
    : view_(&view)
    , messageNames_(std::move(messageNames))
    , pagesFolder_(std::move(pagesFolder))
    , hooks_(std::move(hooks))
{
    relay_ = new WeakScriptMessageDelegate(&view);
    relay_->setUucDelegate(&view, [this](const QString& name, const QJsonValue& body) {
        if (hooks_.received)
            hooks_.received(name, body);
    });
    lifetime_ = std::make_unique<PageViewLifetime>(
        &view, mainQueue, [this](std::function<void()> ready) { build(std::move(ready)); },
        [this] { delete webView_.data(); });
    if (!startsHidden)
        lifetime_->whenReady({});
}

SettingsPagesHost::~SettingsPagesHost()
{
    // The view and its page may outlive the host (the window owns them):
    // nothing of theirs reaches it afterwards.
    if (relay_)
        relay_->setUucDelegate(nullptr, {});
    if (webView_) {
        QObject::disconnect(webView_, &QWebEngineView::loadProgress, nullptr, nullptr);
        QObject::disconnect(webView_, &QWebEngineView::loadFinished, nullptr, nullptr);
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
    webView_->loadEntryPage(pagesFolder_.isEmpty()
            ? platform::Resources::path(settings_pages_host::kPagesEntry)
            : QDir(pagesFolder_).filePath(settings_pages_host::kPagesEntry));
}

void SettingsPagesHost::whenReady(std::function<void()> show)
{
    lifetime_->whenReady(std::move(show));
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
