#pragma once

#include <QLabel>

// An image that acts as a button: it fires the moment the left mouse button goes down,
// without highlighting, tracking or waiting for the release, and has no hover effect.
class RCImageButton : public QLabel {
    Q_OBJECT
public:
    explicit RCImageButton(QWidget* parent = nullptr);

signals:
    void triggered(RCImageButton* sender);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
