#include "ui/ScriptMessageBridge.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

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
                var message = [name, body === undefined ? null : body];
                if (bridge) bridge.postMessage(message[0], message[1]);
                else pending.push(message);
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

} // namespace

ScriptMessageBridge::ScriptMessageBridge(QWebEnginePage* page, const QStringList& names, Handler handler)
    : QObject(page)
    , names_(names)
    , handler_(std::move(handler))
    , channel_(new QWebChannel(this))
{
    channel_->registerObject(kBridgeObject, this);
    page->setWebChannel(channel_, QWebEngineScript::MainWorld);

    const QString namesJson = QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact));
    QWebEngineScript script;
    script.setName(QStringLiteral("pravik-script-messages"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(channelLibrary() + QString::fromLatin1(kHandlersScript).arg(namesJson, stringLiteral(kBridgeObject)));
    page->scripts().insert(script);
}

void ScriptMessageBridge::postMessage(const QString& name, const QJsonValue& body)
{
    if (!names_.contains(name)) {
        qInfo() << "Web pages: a message of unknown name" << name << "is ignored";
        return;
    }
    if (handler_)
        handler_(name, body);
}

QString ScriptMessageBridge::stringLiteral(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'<':
            out += QStringLiteral("\\u003c");
            break;
        case 0x2028:
            out += QStringLiteral("\\u2028");
            break;
        case 0x2029:
            out += QStringLiteral("\\u2029");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}
