#pragma once

#include <QString>
#include <QWidget>

class QPainter;

// A dark rounded label with white bold text centred in it: the size tip of
// the capture window. It takes no mouse input.
class SimpleLabelView : public QWidget {
    Q_OBJECT
public:
    explicit SimpleLabelView(QWidget* parent = nullptr);

    QString text() const { return text_; }
    // The dark rounded box behind the capture tool's labels and toolbar:
    // black at 80 % within the rounded rectangle.
    static void paintDarkBox(QPainter& painter, const QRectF& box, double radius);
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};
