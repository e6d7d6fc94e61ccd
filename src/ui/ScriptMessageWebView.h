#pragma once

#include <QStringList>
#include <QWebEngineView>

class QWebChannel;
class WeakScriptMessageDelegate;

// A web view whose pages see `window.webkit.messageHandlers.NAME.postMessage(body)`
// for each registered name, the small API the local pages are written
// against. A script injected when each document is created builds that API
// over a web channel to the relay; messages posted before the channel is up
// are queued and delivered in order. The application calls page functions
// with evaluate().
class ScriptMessageWebView : public QWebEngineView {
    Q_OBJECT
public:
    ScriptMessageWebView(
        const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent = nullptr);

    // Loads a local entry page; its relative references resolve beside it.
    void loadEntryPage(const QString& filePath);
    // Evaluates a call in the page; the result and any script error are dropped.
    void evaluate(const QString& script);

    // The script injected into every document (exposed for tests).
    static QString bridgeScript(const QStringList& messageNames);

private:
    QWebChannel* channel_;
};
