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

void SimpleLabelView::paintDarkBox(QPainter& painter, const QRectF& box, double radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath rounded;
    rounded.addRoundedRect(box, radius, radius);
    painter.fillPath(rounded, QColor(0, 0, 0, qRound(0.8 * 255)));
    painter.restore();
}

void SimpleLabelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintDarkBox(painter, QRectF(rect()), 6);
    if (text_.isEmpty())
        return;
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
}
