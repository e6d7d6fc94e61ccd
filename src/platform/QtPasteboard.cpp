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

// Qt's own name for a picture held as a picture; it has no bytes of its own.
const QString kQtImageFormat = QStringLiteral("application/x-qt-image");

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

Pasteboard::Content QtPasteboard::content() const
{
    Content result;
    onMainThread([&] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        if (!data)
            return;
        for (const QString& format : data->formats()) {
            if (format != kQtImageFormat)
                result.formats.emplace_back(format, data->data(format));
        }
        if (data->hasImage())
            result.image = qvariant_cast<QImage>(data->imageData());
    });
    return result;
}

void QtPasteboard::setContent(const Content& content)
{
    onMainThread([&] {
        if (content.isEmpty()) {
            QGuiApplication::clipboard()->clear();
            return;
        }
        auto* data = new QMimeData;
        for (const auto& [format, bytes] : content.formats)
            data->setData(format, bytes);
        if (!content.image.isNull())
            data->setImageData(content.image);
        QGuiApplication::clipboard()->setMimeData(data); // takes ownership
    });
}

bool QtPasteboard::supportsSelection() const
{
    bool supported = false;
    onMainThread([&] { supported = QGuiApplication::clipboard()->supportsSelection(); });
    return supported;
}

} // namespace platform
