#include "ui/NoticeArea.h"

#include "core/AppStyle.h"
#include "core/LGNLocalizedString.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

const QString NoticeArea::kDismissKey = QStringLiteral("关闭此提示（若问题仍在，下次启动时会再次显示）");

namespace notice_area {

// Dark text on a pale amber band, the tip bar's colours: readable in light
// and dark themes alike, because both colours are set rather than taken from
// the palette.
const QString kStyle = QStringLiteral(
    "QWidget#noticeRow { background: #fff4e0; border: 1px solid #f3c98b; border-radius: 5px; }"
    "QLabel { color: #5a3a08; background: transparent; }"
    "QToolButton#noticeDismiss { border: none; color: #8a5a14; font-size: 16px; padding: 0 4px; background: transparent; }"
    "QToolButton#noticeDismiss:hover { color: #3d2e00; }"
    "QScrollArea, QWidget#noticeList { background: transparent; border: none; }");

constexpr int kMinimumLimit = 72; // a notice of two lines stays whole in the smallest window
constexpr int kShareOfWindow = 4; // at most a quarter of the window's height

} // namespace notice_area

NoticeArea::NoticeArea(QWidget* parent)
    : QWidget(parent)
    , scroll_(new QScrollArea(this))
    , content_(new QWidget())
    , list_(new QVBoxLayout(content_))
{
    // The style sheet names the window's font: under a style sheet the
    // labels would otherwise fall back to the application's default font.
    setStyleSheet(notice_area::kStyle
        + QStringLiteral("QLabel { font-family: \"%1\"; font-size: 13px; }").arg(AppStyle::font().family()));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    content_->setObjectName(QStringLiteral("noticeList"));
    list_->setContentsMargins(0, 0, 0, 0);
    list_->setSpacing(6);
    scroll_->setWidget(content_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll_);
    if (parent)
        parent->installEventFilter(this);
    hide();
}

void NoticeArea::addNotice(const QString& key, const QString& text)
{
    if (keys_.contains(key))
        return;
    keys_.append(key);
    shownKeys_.append(key);
    texts_.append(text);
    auto* row = new QWidget(content_);
    row->setObjectName(QStringLiteral("noticeRow"));
    row->setProperty("noticeKey", key);
    row->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 6, 6, 6);
    layout->setSpacing(8);
    auto* label = new QLabel(text, row);
    label->setObjectName(QStringLiteral("notice-") + key);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText); // paths and server messages are shown as they are
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* dismiss = new QToolButton(row);
    dismiss->setObjectName(QStringLiteral("noticeDismiss"));
    dismiss->setText(QStringLiteral("×"));
    dismiss->setCursor(Qt::PointingHandCursor);
    dismiss->setToolTip(LGNLocalizedString::lgnAppLocalizedString(kDismissKey));
    dismiss->setAccessibleName(dismiss->toolTip());
    QObject::connect(dismiss, &QToolButton::clicked, this, [this, key] { dismissNotice(key); });
    layout->addWidget(label, 1);
    layout->addWidget(dismiss, 0, Qt::AlignTop);
    list_->addWidget(row);
    show();
    updateHeight();
}

void NoticeArea::dismissNotice(const QString& key)
{
    const qsizetype at = shownKeys_.indexOf(key);
    if (at < 0)
        return;
    shownKeys_.removeAt(at);
    texts_.removeAt(at);
    for (QWidget* row : content_->findChildren<QWidget*>(QStringLiteral("noticeRow"), Qt::FindDirectChildrenOnly)) {
        if (row->property("noticeKey").toString() == key) {
            list_->removeWidget(row);
            row->deleteLater();
        }
    }
    setVisible(!shownKeys_.isEmpty());
    updateHeight();
}

QStringList NoticeArea::texts() const
{
    return texts_;
}

void NoticeArea::retranslate()
{
    for (QToolButton* button : findChildren<QToolButton*>(QStringLiteral("noticeDismiss"))) {
        button->setToolTip(LGNLocalizedString::lgnAppLocalizedString(kDismissKey));
        button->setAccessibleName(button->toolTip());
    }
}

bool NoticeArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        updateHeight();
    return QWidget::eventFilter(watched, event);
}

void NoticeArea::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateHeight();
}

void NoticeArea::updateHeight()
{
    const int width = scroll_->viewport()->width();
    const int wanted = list_->hasHeightForWidth() ? list_->totalHeightForWidth(width) : list_->sizeHint().height();
    const int window = parentWidget() ? parentWidget()->height() : 0;
    const int limit = std::max(notice_area::kMinimumLimit, window / notice_area::kShareOfWindow);
    const int height = std::min(wanted, limit);
    if (scroll_->height() != height || scroll_->minimumHeight() != height)
        scroll_->setFixedHeight(height);
}
