#include "translate/SimpleLabelView.h"

#include <QPainter>
#include <QPainterPath>

SimpleLabelView::SimpleLabelView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SimpleLabelView::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

void SimpleLabelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(rounded, QColor(0, 0, 0, qRound(0.8 * 255)));
    if (text_.isEmpty())
        return;
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
}
