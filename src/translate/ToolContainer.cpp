#include "translate/ToolContainer.h"

#include "core/LGNLocalizedString.h"
#include "core/RCImageButton.h"
#include "translate/SimpleLabelView.h"
#include "translate/SnipManager.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

const QString ToolContainer::kRectImage = QStringLiteral("ScreenCapture_toolbar_rect_ineffect.png");
const QString ToolContainer::kEllipseImage = QStringLiteral("ScreenCapture_toolbar_ellipse_ineffect.png");
const QString ToolContainer::kArrowImage = QStringLiteral("ScreenCapture_toolbar_arrow_ineffect.png");
const QString ToolContainer::kTransImage = QStringLiteral("ScreenCapture_toolbar_ellipse_trans.png");
const QString ToolContainer::kExportImage = QStringLiteral("ScreenCapture_toolbar_export.png");
const QString ToolContainer::kCancelImage = QStringLiteral("ScreenCapture_toolbar_cross_normal.png");
const QString ToolContainer::kOkImage = QStringLiteral("ScreenCapture_toolbar_tick_normal.png");
const QString ToolContainer::kRectSelectedImage = QStringLiteral("ScreenCapture_toolbar_rect_effect.png");
const QString ToolContainer::kEllipseSelectedImage
    = QStringLiteral("ScreenCapture_toolbar_ellipse_effect.png");
const QString ToolContainer::kArrowSelectedImage = QStringLiteral("ScreenCapture_toolbar_arrow_effect.png");

namespace {

struct ToolButtonPlace {
    int code;
    int x;
    const QString* image;
    // The interface-string key of what the button does.
    const char* tip;
};

// Left to right; 35 points apart with 10 free at each end of the bar.
const ToolButtonPlace kToolButtonPlaces[] = {
    { ToolContainer::Rectangle, 10, &ToolContainer::kRectImage, "画矩形" },
    { ToolContainer::Ellipse, 45, &ToolContainer::kEllipseImage, "画椭圆" },
    { ToolContainer::Arrow, 80, &ToolContainer::kArrowImage, "画箭头" },
    { ToolContainer::Translate, 115, &ToolContainer::kTransImage, "识别并翻译选中区域" },
    { ToolContainer::Export, 150, &ToolContainer::kExportImage, "保存为图片文件" },
    { ToolContainer::Cancel, 185, &ToolContainer::kCancelImage, "取消截图" },
    { ToolContainer::Ok, 220, &ToolContainer::kOkImage, "复制到剪贴板" },
};

constexpr int kToolButtonWidth = 28;

} // namespace

ToolContainer::ToolContainer(const SnipManager& manager, QWidget* parent)
    : QWidget(parent)
    , manager_(manager)
{
    resize(kWidth, kHeight);
    for (const ToolButtonPlace& place : kToolButtonPlaces) {
        auto* button = new RCImageButton(this);
        button->setGeometry(place.x, 0, kToolButtonWidth, kHeight);
        button->setAlignment(Qt::AlignCenter);
        // The pictures alone do not say what each button does.
        button->setToolTip(LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(place.tip)));
        buttons_[static_cast<size_t>(place.code)] = button;
        showImage(place.code, *place.image);
        connect(button, &RCImageButton::triggered, this, &ToolContainer::onToolClick);
    }
}

RCImageButton* ToolContainer::button(int code) const
{
    return code >= 0 && code < int(buttons_.size()) ? buttons_[static_cast<size_t>(code)] : nullptr;
}

QString ToolContainer::imageName(int code) const
{
    return code >= 0 && code < int(imageNames_.size()) ? imageNames_[static_cast<size_t>(code)] : QString();
}

void ToolContainer::showImage(int code, const QString& name)
{
    imageNames_[static_cast<size_t>(code)] = name;
    // A missing image leaves the button empty; it still works.
    buttons_[static_cast<size_t>(code)]->setPixmap(QPixmap::fromImage(manager_.getImageFromResource(name)));
}

void ToolContainer::onToolClick(RCImageButton* sender)
{
    const auto found = std::find(buttons_.begin(), buttons_.end(), sender);
    if (found == buttons_.end())
        return;
    const int code = int(found - buttons_.begin());
    if (code == Rectangle || code == Ellipse || code == Arrow) {
        showImage(Rectangle, code == Rectangle ? kRectSelectedImage : kRectImage);
        showImage(Ellipse, code == Ellipse ? kEllipseSelectedImage : kEllipseImage);
        showImage(Arrow, code == Arrow ? kArrowSelectedImage : kArrowImage);
    }
    if (toolClick_)
        toolClick_(code);
}

void ToolContainer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    SimpleLabelView::paintDarkBox(painter, QRectF(rect()), 3);
}

void ToolContainer::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void ToolContainer::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void ToolContainer::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}
