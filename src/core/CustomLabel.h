#pragma once

#include <QLabel>

// A read-only text: centred, wrapped at word boundaries over as many lines as it needs,
// without frame or background.
class CustomLabel : public QLabel {
    Q_OBJECT
public:
    explicit CustomLabel(const QString& text, QWidget* parent = nullptr);
};
