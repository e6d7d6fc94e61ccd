#pragma once

#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QWebChannel;
class QWebEnginePage;

// Gives a web page the script-message API its pages are written against,
// `window.webkit.messageHandlers.NAME.postMessage(body)`, for the names
// given, over a QWebChannel: a script injected at document creation makes
// the handlers, queues messages until the channel is up, and hands each
// message to the handler on the main thread. Bodies arrive as JSON values
// (a page may send anything; the handler checks the kind).
class ScriptMessageBridge final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& name, const QJsonValue& body)>;

    // Installs itself on the page (a child of it).
    ScriptMessageBridge(QWebEnginePage* page, const QStringList& names, Handler handler);

    // A JavaScript string literal (double-quoted) that reads as `text`:
    // quotes, backslashes, line breaks, U+2028/U+2029 and "</" escaped.
    static QString stringLiteral(const QString& text);

public slots:
    // Called by the page's script; not for the application.
    void postMessage(const QString& name, const QJsonValue& body);

private:
    QStringList names_;
    Handler handler_;
    QWebChannel* channel_ = nullptr;
};
