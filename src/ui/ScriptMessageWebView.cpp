#include "ui/ScriptMessageWebView.h"

#include "ui/ScriptMessageBridge.h"
#include "ui/WeakScriptMessageDelegate.h"

#include <QFileInfo>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>

ScriptMessageWebView::ScriptMessageWebView(
    const QStringList& messageNames, WeakScriptMessageDelegate* relay, QWidget* parent)
    : QWebEngineView(parent)
    , profile_(new QWebEngineProfile(this)) // no storage name: kept in memory only
    , page_(new QWebEnginePage(profile_, this))
{
    setPage(page_);
    new ScriptMessageBridge(page_, messageNames,
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

ScriptMessageWebView::~ScriptMessageWebView()
{
    // The engine wants a profile's pages gone before the profile.
    delete page_;
    delete profile_;
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
