#include "ui/ScriptMessageWebView.h"

#include "ui/ScriptMessageBridge.h"
#include "ui/WeakScriptMessageDelegate.h"

#include <QFileInfo>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

ScriptMessageWebView::ScriptMessageWebView(
    const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent)
    : QWebEngineView(parent)
{
    new ScriptMessageBridge(page(), messageNames,
        [relay = QPointer<WeakScriptMessageDelegate>(relay)](const QString& name, const QJsonValue& body) {
            if (relay)
                relay->postMessage(name, body);
        });
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings()->setFontSize(QWebEngineSettings::MinimumFontSize, 0);
    setContextMenuPolicy(Qt::NoContextMenu);
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
