#pragma once

#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QUrl;
class QWebChannel;
class QWebEnginePage;

// Gives a web page the script-message API its pages are written against,
// `window.webkit.messageHandlers.NAME.postMessage(body)`, for the names
// given, over a QWebChannel: a script injected at document creation makes
// the handlers, queues messages until the channel is up, and sends each
// message as its name and its body serialised as JSON text (so a number
// stays a number and a text a text). The bridge reads the body back and
// hands name and value to the handler on the main thread; unknown names and
// bodies that are not JSON are dropped with a log line. The other way, the
// application calls page functions with scripts built by functionCall().
//
// A bridge bound to an origin serves only documents of that origin: the
// handlers are injected into its documents alone, a message that arrives
// while the page shows a document of any other origin is dropped with a log
// line, and runInPage() reaches only a document of that origin.
class ScriptMessageBridge final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& name, const QJsonValue& body)>;

    // Installs itself on the page (a child of it). With an empty origin
    // every document of the page is served (the local settings pages).
    ScriptMessageBridge(
        QWebEnginePage* page, const QStringList& names, Handler handler, const QString& origin = QString());

    // The origin of an address as a browser writes it ("https://host" or
    // "http://host:port", default ports left out); empty for addresses that
    // have no such origin (files, "about:", "data:", "blob:").
    static QString originOf(const QUrl& url);
    // Whether the page's current document is one the bridge serves.
    bool documentAllowed() const;
    // Runs the script in the page when its document is one the bridge
    // serves; the script itself checks the origin again, so a document that
    // replaced it meanwhile gets nothing. False when nothing was run.
    bool runInPage(const QString& script);

    // One JSON value of any kind (number, text, object, array, true, false,
    // null); nothing for anything else. Page bodies are outside input.
    static std::optional<QJsonValue> parseBody(const QString& json);

    // A single-quoted JavaScript string literal that reads as `text`:
    // quotes, backslashes, line and paragraph separators, control characters
    // and '<' '>' '&' written as escapes, so no text can end the literal or
    // a surrounding script element.
    static QString stringLiteral(const QString& text);
    // "name('arg1','arg2')" with each argument as a string literal.
    static QString functionCall(const QString& function, const QStringList& arguments);

public slots:
    // Called by the page's script; not for the application.
    void postMessage(const QString& name, const QString& bodyJson);

private:
    QWebEnginePage* page_;
    QStringList names_;
    Handler handler_;
    QString origin_;
    QWebChannel* channel_ = nullptr;
};
