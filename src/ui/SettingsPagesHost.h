#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class PageViewLifetime;
class QJsonValue;
class ScriptMessageWebView;
class UWHomeView;
class WeakScriptMessageDelegate;

namespace platform {
class Executor;
}

// The settings pages in the main window's page area. Their web view lives
// while the window shows it: it is built when the window is shown (or ahead
// of a show, through whenReady) and let go a while after it hides, so the
// browser engine is not kept for a window nobody sees. Main thread.
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

    // Runs `show` once a page has loaded, building the view when there is none.
    void whenReady(std::function<void()> show);
    // Runs a page-function call in the page, if one is built.
    void evaluate(const QString& script);
    ScriptMessageWebView* webView() const;

private:
    void build(std::function<void()> ready);

    QPointer<UWHomeView> view_;
    QStringList messageNames_;
    QString pagesFolder_;
    Hooks hooks_;
    QPointer<WeakScriptMessageDelegate> relay_;
    QPointer<ScriptMessageWebView> webView_;
    std::unique_ptr<PageViewLifetime> lifetime_;
};
