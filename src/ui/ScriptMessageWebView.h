#pragma once

#include <QStringList>
#include <QWebEngineView>

class QWebEngineProfile;
class WeakScriptMessageDelegate;

// The settings pages' web view: its pages see
// `window.webkit.messageHandlers.NAME.postMessage(body)` for each registered
// name (through a ScriptMessageBridge on its page), and the messages go to
// the relay. Local pages only. The application calls page functions with
// evaluate(). The view has a profile of its own that goes with it, so
// nothing the engine keeps for a profile (its storage, its network state)
// outlives the view; the pages keep their settings in the settings file.
class ScriptMessageWebView : public QWebEngineView {
    Q_OBJECT
public:
    ScriptMessageWebView(
        const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent = nullptr);
    ~ScriptMessageWebView() override;

    // Loads a local entry page; its relative references resolve beside it.
    void loadEntryPage(const QString& filePath);
    // Evaluates a call in the page; the result and any script error are dropped.
    void evaluate(const QString& script);

private:
    QWebEngineProfile* profile_;
    QWebEnginePage* page_;
};
