#pragma once

#include <QWidget>

#include <array>
#include <functional>

class RCImageButton;
class SnipManager;

// The capture window's dark bar of seven image buttons under the selected
// area. Reports the button pressed as its code and shows which shape tool
// was chosen last.
class ToolContainer : public QWidget {
    Q_OBJECT
public:
    // Button codes, as the capture window acts on them.
    enum Code : int { Cancel = 0, Ok = 1, Export = 2, Rectangle = 3, Ellipse = 4, Arrow = 5, Translate = 6 };
    static constexpr int kWidth = 258;
    static constexpr int kHeight = 26;

    using ToolClick = std::function<void(int code)>;

    ToolContainer(const SnipManager& manager, QWidget* parent);

    void setToolClick(ToolClick handler) { toolClick_ = std::move(handler); }
    // The button with this code (tests press it).
    RCImageButton* button(int code) const;
    // The resource name of the image a button shows now.
    QString imageName(int code) const;

    static const QString kRectImage, kEllipseImage, kArrowImage, kTransImage, kExportImage, kCancelImage,
        kOkImage, kRectSelectedImage, kEllipseSelectedImage, kArrowSelectedImage;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Presses between the buttons neither reach the capture window nor
    // change the selection.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void onToolClick(RCImageButton* sender);
    void showImage(int code, const QString& name);

    const SnipManager& manager_;
    ToolClick toolClick_;
    // Indexed by code.
    std::array<RCImageButton*, 7> buttons_ {};
    std::array<QString, 7> imageNames_ {};
};
