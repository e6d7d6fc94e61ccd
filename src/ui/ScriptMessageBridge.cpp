#include "ui/ScriptMessageBridge.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace script_message_bridge {

const QString kBridgeObject = QStringLiteral("pravikScriptMessages");

// Waits for the channel's transport, which the engine adds to the page
// after document creation, then delivers what was posted meanwhile.
const char kHandlersScript[] = R"JS(
(function (names, objectName) {
    var pending = [];
    var bridge = null;
    var handlers = {};
    names.forEach(function (name) {
        handlers[name] = {
            postMessage: function (body) {
                var text = JSON.stringify(body === undefined ? null : body);
                if (text === undefined) text = 'null';
                if (bridge) bridge.postMessage(name, text);
                else pending.push([name, text]);
            }
        };
    });
    window.webkit = { messageHandlers: handlers };
    function connect() {
        if (!(window.qt && window.qt.webChannelTransport)) { setTimeout(connect, 5); return; }
        new QWebChannel(window.qt.webChannelTransport, function (channel) {
            bridge = channel.objects[objectName];
            pending.forEach(function (message) { bridge.postMessage(message[0], message[1]); });
            pending = [];
        });
    }
    connect();
})(%1, %2);
)JS";

QString channelLibrary()
{
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Web pages: the web channel's script is missing; pages cannot send messages");
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace script_message_bridge

using namespace script_message_bridge;

ScriptMessageBridge::ScriptMessageBridge(
    QWebEnginePage* page, const QStringList& names, Handler handler, const QString& origin)
    : QObject(page)
    , page_(page)
    , names_(names)
    , handler_(std::move(handler))
    , origin_(origin)
    , channel_(new QWebChannel(this))
{
    channel_->registerObject(kBridgeObject, this);
    page->setWebChannel(channel_, QWebEngineScript::MainWorld);

    const QString namesJson
        = QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact));
    QWebEngineScript script;
    script.setName(QStringLiteral("pravik-script-messages"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    // The engine injects a script whose header names addresses into those
    // documents only; '*' and '?' never occur in an origin.
    const QString header = origin_.isEmpty()
        ? QString()
        : QStringLiteral("// ==UserScript==\n// @include %1/*\n// ==/UserScript==\n").arg(origin_);
    script.setSourceCode(header + channelLibrary()
        + QString::fromLatin1(kHandlersScript).arg(namesJson, stringLiteral(kBridgeObject)));
    page->scripts().insert(script);
}

void ScriptMessageBridge::postMessage(const QString& name, const QString& bodyJson)
{
    if (!documentAllowed()) {
        qWarning("Web pages: message \"%s\" from %s ignored: only %s may send it", qUtf8Printable(name.left(64)),
            qUtf8Printable(originOf(page_->url()).left(200)), qUtf8Printable(origin_));
        return;
    }
    if (!names_.contains(name)) {
        qInfo("Web pages: a message of unknown name \"%s\" is ignored", qUtf8Printable(name.left(64)));
        return;
    }
    const std::optional<QJsonValue> body = parseBody(bodyJson);
    if (!body) {
        qWarning("Web pages: message \"%s\" ignored: its body is not JSON", qUtf8Printable(name));
        return;
    }
    if (handler_)
        handler_(name, *body);
}

QString ScriptMessageBridge::originOf(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return {};
    const int defaultPort = scheme == u"https" ? 443 : 80;
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(url.host());
    if (url.port() != -1 && url.port() != defaultPort)
        origin.setPort(url.port());
    return origin.toString(QUrl::FullyEncoded);
}

bool ScriptMessageBridge::documentAllowed() const
{
    return origin_.isEmpty() || originOf(page_->url()) == origin_;
}

bool ScriptMessageBridge::runInPage(const QString& script)
{
    if (!documentAllowed())
        return false;
    if (origin_.isEmpty()) {
        page_->runJavaScript(script, QWebEngineScript::MainWorld);
        return true;
    }
    page_->runJavaScript(
        QStringLiteral("if (window.location.origin === %1) { %2 }").arg(stringLiteral(origin_), script),
        QWebEngineScript::MainWorld);
    return true;
}

std::optional<QJsonValue> ScriptMessageBridge::parseBody(const QString& json)
{
    // A document holds an object or an array; a body may be any value, so it
    // is read as the single element of a list.
    QJsonParseError error;
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray("[") + json.toUtf8() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0);
}

QString ScriptMessageBridge::stringLiteral(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'\'';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\'':
            out += QStringLiteral("\\'");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            // Separators end a line in older engines; '<', '>' and '&' keep the
            // call inert wherever it is ever placed into markup.
            if (u < 0x20 || u == 0x7f || u == 0x2028 || u == 0x2029 || u == u'"' || u == u'<' || u == u'>'
                || u == u'&')
                out += QStringLiteral("\\u%1").arg(static_cast<uint>(u), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'\'';
    return out;
}

QString ScriptMessageBridge::functionCall(const QString& function, const QStringList& arguments)
{
    QStringList literals;
    for (const QString& argument : arguments)
        literals << stringLiteral(argument);
    return function + u'(' + literals.join(u',') + u')';
}
