#include "ui/NoticeArea.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

// Dark text on a pale amber band: readable in light and dark themes alike,
// because both colours are set rather than taken from the palette.
const QString kNoticeStyle
    = QStringLiteral("QLabel { background: #FFF3D6; color: #3D2E00; border: 1px solid #E2B54A;"
                     " border-radius: 4px; padding: 8px 10px; }");

} // namespace

NoticeArea::NoticeArea(QWidget* parent)
    : QWidget(parent)
    , list_(new QVBoxLayout(this))
{
    list_->setContentsMargins(12, 12, 12, 0);
    list_->setSpacing(6);
    hide();
}

void NoticeArea::addNotice(const QString& key, const QString& text)
{
    if (keys_.contains(key))
        return;
    keys_.append(key);
    texts_.append(text);
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("notice-") + key);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText); // paths and server messages are shown as they are
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setStyleSheet(kNoticeStyle);
    list_->addWidget(label);
    show();
}
