#include "device/mmBleDebugWindow.h"

#include "core/Notifications.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

QString entryText(const QVariant& object)
{
    const int type = object.typeId();
    if (type == QMetaType::QVariantMap || type == QMetaType::QVariantList || type == QMetaType::QStringList)
        return QString::fromUtf8(QJsonDocument::fromVariant(object).toJson(QJsonDocument::Indented)).trimmed();
    if (type == QMetaType::QByteArray)
        return QString::fromLatin1(object.toByteArray().toHex(' '));
    return object.toString();
}

} // namespace

mmBleDebugWindow::mmBleDebugWindow(platform::NotificationCenter& center)
    : center_(center)
{
}

mmBleDebugWindow::~mmBleDebugWindow()
{
    delete window_;
}

QWidget* mmBleDebugWindow::window()
{
    if (!window_)
        windowDidLoad();
    return window_;
}

void mmBleDebugWindow::windowDidLoad()
{
    window_ = new QWidget(nullptr, Qt::Window);
    window_->setWindowTitle(QStringLiteral("BLE"));
    window_->resize(480, 560);
    debugString_.clear();
    loadSourceTextview();
    observer_ = center_.addObserver(
        notifications::kBleData, [this](const platform::Notification& n) { readBleDataNoti(n.object); });
}

void mmBleDebugWindow::loadSourceTextview()
{
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(20, 20, 20, 20);
    fromTextView_ = new QTextEdit(window_);
    fromTextView_->setReadOnly(true);
    fromTextView_->setAcceptRichText(false);
    fromTextView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    fromTextView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fromTextView_->setLineWrapMode(QTextEdit::WidgetWidth);
    fromTextView_->setObjectName(QStringLiteral("bleDebugLog"));
    fromTextView_->setStyleSheet(QStringLiteral("QTextEdit#bleDebugLog { background: transparent; color: black; "
                                                "border: 1px solid #b0b0b0; border-radius: 10px; }"));
    QFont font = fromTextView_->font();
    font.setPointSize(16);
    fromTextView_->setFont(font);
    fromTextView_->document()->setDocumentMargin(10);
    layout->addWidget(fromTextView_);
}

void mmBleDebugWindow::readBleDataNoti(const QVariant& object)
{
    debugString_ = QStringLiteral("%1\n\n%2").arg(debugString_, entryText(object));
    if (!fromTextView_)
        return;
    fromTextView_->setPlainText(debugString_);
    QTextCursor cursor(fromTextView_->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat spacing;
    spacing.setLineHeight(4, QTextBlockFormat::LineDistanceHeight);
    cursor.mergeBlockFormat(spacing);
    // The newest entry in view.
    fromTextView_->verticalScrollBar()->setValue(fromTextView_->verticalScrollBar()->maximum());
}
