#pragma once

#include <QStringList>
#include <QWebEngineView>

class WeakScriptMessageDelegate;

// The settings pages' web view: its pages see
// `window.webkit.messageHandlers.NAME.postMessage(body)` for each registered
// name (through a ScriptMessageBridge on its page), and the messages go to
// the relay. Local pages only. The application calls page functions with
// evaluate().
class ScriptMessageWebView : public QWebEngineView {
    Q_OBJECT
public:
    ScriptMessageWebView(
        const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent = nullptr);

    // Loads a local entry page; its relative references resolve beside it.
    void loadEntryPage(const QString& filePath);
    // Evaluates a call in the page; the result and any script error are dropped.
    void evaluate(const QString& script);
};
