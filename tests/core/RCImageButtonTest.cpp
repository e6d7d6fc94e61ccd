#include "core/RCImageButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {

void send(QWidget& widget, QEvent::Type type, Qt::MouseButton button)
{
    const QPointF at(5, 5);
    QMouseEvent event(type, at, widget.mapToGlobal(at), button,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

TEST(RCImageButtonTest, FiresOnLeftMouseDownOnly)
{
    RCImageButton button;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::green);
    button.setPixmap(pixmap);
    button.resize(20, 20);

    QList<RCImageButton*> senders;
    QObject::connect(
        &button, &RCImageButton::triggered, [&senders](RCImageButton* sender) { senders.append(sender); });

    send(button, QEvent::MouseButtonPress, Qt::LeftButton);
    ASSERT_EQ(senders.size(), 1);
    EXPECT_EQ(senders.first(), &button);

    send(button, QEvent::MouseButtonRelease, Qt::LeftButton);
    send(button, QEvent::MouseButtonPress, Qt::RightButton);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(senders.size(), 1);
    EXPECT_FALSE(button.pixmap().isNull());
}

} // namespace
