#include "core/RCImageButton.h"

#include <QMouseEvent>

RCImageButton::RCImageButton(QWidget* parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
}

void RCImageButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    event->accept();
    emit triggered(this);
}
