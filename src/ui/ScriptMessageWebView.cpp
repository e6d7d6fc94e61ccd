#include "ui/ScriptMessageWebView.h"

#include "ui/WeakScriptMessageDelegate.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace webview {

const QString kRelayName = QStringLiteral("pravikBridge");

// The page's half of the bridge; %1 the message names as a JSON array, %2
// the relay's name on the channel.
const char* const kShim = R"JS(
(function () {
  var names = %1;
  var relay = null;
  var queued = [];
  function send(name, body) {
    var text = JSON.stringify(body === undefined ? null : body);
    if (text === undefined) text = 'null';
    if (relay) relay.postMessage(name, text); else queued.push([name, text]);
  }
  var handlers = {};
  names.forEach(function (name) {
    handlers[name] = { postMessage: function (body) { send(name, body); } };
  });
  window.webkit = { messageHandlers: handlers };
  new QWebChannel(qt.webChannelTransport, function (channel) {
    relay = channel.objects['%2'];
    queued.forEach(function (m) { relay.postMessage(m[0], m[1]); });
    queued = [];
  });
})();
)JS";

} // namespace webview

ScriptMessageWebView::ScriptMessageWebView(
    const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent)
    : QWebEngineView(parent)
    , channel_(new QWebChannel(this))
{
    channel_->registerObject(webview::kRelayName, relay);
    page()->setWebChannel(channel_, QWebEngineScript::MainWorld);
    QWebEngineScript script;
    script.setName(QStringLiteral("pravik-message-handlers"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(bridgeScript(messageNames));
    page()->scripts().insert(script);
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings()->setFontSize(QWebEngineSettings::MinimumFontSize, 0);
    setContextMenuPolicy(Qt::NoContextMenu);
}

QString ScriptMessageWebView::bridgeScript(const QStringList& messageNames)
{
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    QString source;
    if (channelScript.open(QIODevice::ReadOnly))
        source = QString::fromUtf8(channelScript.readAll());
    else
        qWarning("ScriptMessageWebView: the web channel script is missing; pages cannot post messages");
    const QString names = QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(messageNames)).toJson(QJsonDocument::Compact));
    return source + QString::fromUtf8(webview::kShim).arg(names, webview::kRelayName);
}

void ScriptMessageWebView::loadEntryPage(const QString& filePath)
{
    if (!QFileInfo(filePath).isReadable()) {
        qWarning("ScriptMessageWebView: the page %s cannot be read", qUtf8Printable(filePath));
        return;
    }
    load(QUrl::fromLocalFile(filePath));
}

void ScriptMessageWebView::evaluate(const QString& script)
{
    page()->runJavaScript(script, QWebEngineScript::MainWorld, [](const QVariant&) {});
}
