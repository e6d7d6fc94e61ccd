#pragma once

#include "platform/Executor.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class PageViewLifetime;
class QJsonValue;
class ScriptMessageWebView;
class UWHomeView;
class WeakScriptMessageDelegate;


// The settings pages in the main window's page area. Their web view lives
// while the window shows it: it is built when the window is shown (or ahead
// of a show, through whenReady) and let go a while after it hides, so the
// browser engine is not kept for a window nobody sees. A page draws only
// while its window is shown: a window kept out of sight until whenReady()
// answers appears with its page drawn, never as an empty panel. Main thread.
class SettingsPagesHost {
public:
    struct Hooks {
        // A message the pages posted.
        std::function<void(const QString& name, const QJsonValue& body)> received;
        // A web view was built; its page starts on the first page.
        std::function<void()> built;
        // Its page finished loading and can take page-function calls.
        std::function<void()> loaded;
    };

    // `messageNames` are those the pages may post; `pagesFolder` holds
    // "h5/index.html" (empty: the resources). Unless `startsHidden`, the
    // view is built at once.
    SettingsPagesHost(UWHomeView& view, platform::Executor& mainQueue, QStringList messageNames,
        QString pagesFolder, Hooks hooks, bool startsHidden);
    ~SettingsPagesHost();

    // A page that draws no frame (its window not shown, its renderer gone)
    // keeps nobody waiting longer than this.
    static constexpr double kDrawnTimeout = 2.0;

    // Runs `show` once a page has loaded, has had everything sent to it so
    // far and has drawn a frame of it since this call, building the view
    // when there is none. An empty `show` only builds.
    void whenReady(std::function<void()> show);
    // Runs a page-function call in the page, if one is built.
    void evaluate(const QString& script);
    ScriptMessageWebView* webView() const;

private:
    void build(std::function<void()> ready);
    // Runs `show` once the view has drawn the frame after this call.
    void afterNextFrame(std::function<void()> show);
    void frameDrawn();

    QPointer<UWHomeView> view_;
    QStringList messageNames_;
    QString pagesFolder_;
    Hooks hooks_;
    QPointer<WeakScriptMessageDelegate> relay_;
    QPointer<ScriptMessageWebView> webView_;
    std::unique_ptr<PageViewLifetime> lifetime_;
    platform::Executor& mainQueue_;
    // The shows waiting for the frame asked for, and the title the page
    // takes once that frame is drawn.
    std::vector<std::function<void()>> drawnWaiting_;
    QString drawnTitle_;
    quint64 frameMarks_ = 0;
    platform::TaskId drawnTimeout_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
