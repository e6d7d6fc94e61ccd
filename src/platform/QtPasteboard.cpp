#include "platform/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace platform {

namespace {

QClipboard::Mode mode(PasteboardKind kind)
{
    return kind == PasteboardKind::Selection ? QClipboard::Selection : QClipboard::Clipboard;
}

} // namespace

void QtPasteboard::onMainThread(const std::function<void()>& work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

QString QtPasteboard::text(PasteboardKind kind) const
{
    QString result;
    onMainThread([&] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode(kind));
        if (data && data->hasText())
            result = data->text();
    });
    return result;
}

void QtPasteboard::setText(const QString& text, PasteboardKind kind)
{
    onMainThread([&] { QGuiApplication::clipboard()->setText(text, mode(kind)); });
}

void QtPasteboard::setImage(const QImage& image)
{
    onMainThread([&] { QGuiApplication::clipboard()->setImage(image); });
}

void QtPasteboard::clear(PasteboardKind kind)
{
    onMainThread([&] { QGuiApplication::clipboard()->clear(mode(kind)); });
}

bool QtPasteboard::supportsSelection() const
{
    bool supported = false;
    onMainThread([&] { supported = QGuiApplication::clipboard()->supportsSelection(); });
    return supported;
}

} // namespace platform
