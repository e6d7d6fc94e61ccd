#include "core/ArtProgressHUD.h"

#include "core/AppDelegate.h"
#include "core/AppStyle.h"
#include "core/ArtHUDView.h"
#include "platform/MainQueue.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace art_hud {

constexpr int kIconSize = 28;
constexpr int kSpinnerSize = 32;
constexpr int kSpinnerSpokes = 12;
constexpr int kSpinnerStepMs = 80;

// A white spinner of spokes whose brightness runs round.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(kSpinnerSize, kSpinnerSize);
        timer_.setInterval(kSpinnerStepMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % kSpinnerSpokes;
            update();
        });
    }
    void setAnimating(bool on) { on ? timer_.start() : timer_.stop(); }
    bool isAnimating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        for (int i = 0; i < kSpinnerSpokes; ++i) {
            const int age = (step_ - i + kSpinnerSpokes) % kSpinnerSpokes;
            QColor color(Qt::white);
            color.setAlphaF(1.0 - 0.75 * age / (kSpinnerSpokes - 1));
            painter.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -kSpinnerSize * 0.22), QPointF(0, -kSpinnerSize * 0.42));
            painter.rotate(360.0 / kSpinnerSpokes);
        }
    }

private:
    QTimer timer_;
    int step_ = 0;
};

// The status icons: a coloured disc with a white sign.
QPixmap statusIcon(quint64 type)
{
    QPixmap image(kIconSize, kIconSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor disc;
    QString sign;
    switch (type) {
    case ArtProgressHUD::kInfo:
        disc = QColor(0x2f, 0x80, 0xed);
        sign = QStringLiteral("i");
        break;
    case ArtProgressHUD::kWarning:
        disc = QColor(0xf2, 0x99, 0x4a);
        sign = QStringLiteral("!");
        break;
    case ArtProgressHUD::kError:
        disc = QColor(0xeb, 0x57, 0x57);
        sign = QStringLiteral("\u00d7");
        break;
    default:
        disc = QColor(0x27, 0xae, 0x60);
        sign = QStringLiteral("\u2713");
        break;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(1, 1, kIconSize - 2, kIconSize - 2));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(kIconSize * 2 / 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, kIconSize, kIconSize), Qt::AlignCenter, sign);
    return image;
}

QString imageNameFor(quint64 type)
{
    switch (type) {
    case ArtProgressHUD::kInfo:
        return QStringLiteral("MLHudAlertInfo");
    case ArtProgressHUD::kWarning:
        return QStringLiteral("MLHudAlertWarn");
    case ArtProgressHUD::kError:
        return QStringLiteral("MLHudAlertError");
    case ArtProgressHUD::kSuccess:
        return QStringLiteral("MLHudAlertSuccess");
    default:
        return {};
    }
}

struct Configuration {
    platform::Executor* executor = nullptr;
    ArtProgressHUD::HostWindow hostWindow;
};

Configuration& configuration()
{
    static Configuration config;
    return config;
}

ArtProgressHUD*& sharedSlot()
{
    static ArtProgressHUD* shared = nullptr;
    return shared;
}

QWidget* hostWindow()
{
    if (configuration().hostWindow)
        return configuration().hostWindow();
    AppDelegate* delegate = AppDelegate::shared();
    return delegate ? delegate->window() : nullptr;
}

} // namespace art_hud

void ArtProgressHUD::configure(platform::Executor& executor, HostWindow hostWindow)
{
    art_hud::configuration() = { &executor, std::move(hostWindow) };
}

ArtProgressHUD* ArtProgressHUD::shared()
{
    return art_hud::sharedSlot();
}

ArtProgressHUD& ArtProgressHUD::obtain()
{
    ArtProgressHUD*& slot = art_hud::sharedSlot();
    if (!slot) {
        platform::Executor* executor = art_hud::configuration().executor;
        slot = new ArtProgressHUD(executor ? *executor : platform::MainQueue::shared());
    }
    return *slot;
}

ArtProgressHUD::ArtProgressHUD(platform::Executor& executor)
    : executor_(executor)
    , window_(std::make_unique<ArtHUDView>())
{
    window_->setCornerRadius(kCornerRadius);
    window_->installEventFilter(this);

    QWidget* content = window_->contentView();
    iconImageView_ = new QLabel(content);
    iconImageView_->setFixedSize(art_hud::kIconSize, art_hud::kIconSize);
    iconImageView_->setScaledContents(true);
    tipTextField_ = new QLabel(content);
    onlyTipTextField_ = new QLabel(content);
    auto* spinner = new art_hud::Spinner(content);
    loadingIndicator_ = spinner;
    for (QLabel* field : { tipTextField_, onlyTipTextField_ }) {
        field->setTextFormat(Qt::PlainText);
        // The interface's own font at its body size, never smaller.
        field->setFont(AppStyle::font());
        field->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
        field->setAlignment(Qt::AlignCenter);
        field->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    tipTextField_->setWordWrap(true);
    tipTextField_->setMaximumWidth(kTipTextMaxWidth);
    onlyTipTextField_->setWordWrap(true);

    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    // The panel takes the size it is given, smaller than its content over a small view.
    column->setSizeConstraint(QLayout::SetNoConstraint);
    column->addStretch();
    column->addWidget(iconImageView_, 0, Qt::AlignHCenter);
    column->addWidget(loadingIndicator_, 0, Qt::AlignHCenter);
    column->addWidget(tipTextField_); // centred by its own alignment, so it can wrap to its height
    column->addWidget(onlyTipTextField_);
    column->addStretch();
}

ArtProgressHUD::~ArtProgressHUD()
{
    stopTimerAndClickWatch();
}

void ArtProgressHUD::configImageNameWithType(quint64 type)
{
    alertType_ = type;
    auto* spinner = static_cast<art_hud::Spinner*>(loadingIndicator_);
    const bool loading = type == kLoading;
    const bool textOnly = type == kTextOnly;
    iconImageName_ = art_hud::imageNameFor(type);
    if (iconImageName_.isEmpty())
        iconImageView_->clear();
    else
        iconImageView_->setPixmap(art_hud::statusIcon(type));
    iconImageView_->setVisible(!loading && !textOnly);
    tipTextField_->setVisible(!loading && !textOnly);
    onlyTipTextField_->setVisible(textOnly);
    loadingIndicator_->setVisible(loading);
    spinner->setAnimating(loading);
}

void ArtProgressHUD::showText(const QString& text, quint64 type, QWidget* inView)
{
    ArtProgressHUD& hud = obtain();
    if (inView)
        hud.popView_ = inView;
    hud.configImageNameWithType(type);
    hud.tipTextField_->setText(text);
    hud.onlyTipTextField_->setText(text);
    hud.onlyTipTextField_->adjustSize();
    hud.showWindow();
}

void ArtProgressHUD::showText(const QString& text)
{
    showText(text, kTextOnly, nullptr);
}

void ArtProgressHUD::showInfoText(const QString& text)
{
    showText(text, kInfo, nullptr);
}

void ArtProgressHUD::showErrorText(const QString& text)
{
    showText(text, kError, nullptr);
}

void ArtProgressHUD::showSuccessText(const QString& text)
{
    showText(text, kSuccess, nullptr);
}

void ArtProgressHUD::showLoading(QWidget* view)
{
    ArtProgressHUD& hud = obtain();
    if (view)
        hud.popView_ = view;
    hud.configImageNameWithType(kLoading);
    hud.showWindow();
}

void ArtProgressHUD::dismissLoading()
{
    if (ArtProgressHUD* hud = shared())
        hud->dismiss();
}

void ArtProgressHUD::showWindow()
{
    // Attached to the host window, so that it stays above it; shown again
    // rather than attached a second time.
    QWidget* host = art_hud::hostWindow();
    window_->setAlphaValue(0);
    window_->show();
    if (host && host->windowHandle() && window_->windowHandle())
        window_->windowHandle()->setTransientParent(host->windowHandle());
    updateWindowPosition();
    window_->raise();
    window_->fadeTo(kAlpha);

    stopTimerAndClickWatch();
    if (alertType_ == kLoading)
        return;
    dismissTimer_ = executor_.asyncAfter(kDismissSeconds, [this] {
        dismissTimer_ = 0;
        dismiss();
    });
    qApp->installEventFilter(this);
    clickWatch_ = true;
}

void ArtProgressHUD::updateWindowPosition()
{
    QWidget* host = art_hud::hostWindow();
    QSize size(kWidth, kHeight);
    QRect reference;
    if (popView_) {
        reference = QRect(popView_->mapToGlobal(QPoint(0, 0)), popView_->size());
        size = size.boundedTo(popView_->size());
    } else if (host) {
        reference = host->frameGeometry();
    }
    // A long notice widens and heightens the panel to fit its text.
    QWidget* content = window_->contentView();
    size = size.expandedTo(content->sizeHint().boundedTo(QSize(2 * kWidth, 2 * kHeight)));
    if (QLayout* layout = content->layout(); layout && layout->hasHeightForWidth())
        size.setHeight(std::max(size.height(), std::min(layout->totalHeightForWidth(size.width()), 2 * kHeight)));
    if (popView_)
        size = size.boundedTo(popView_->size());
    window_->resize(size);
    if (reference.isValid())
        window_->move(reference.center() - QPoint(size.width() / 2, size.height() / 2));
}

void ArtProgressHUD::stopTimerAndClickWatch()
{
    if (dismissTimer_) {
        executor_.cancel(dismissTimer_);
        dismissTimer_ = 0;
    }
    if (clickWatch_) {
        qApp->removeEventFilter(this);
        clickWatch_ = false;
    }
}

void ArtProgressHUD::dismiss()
{
    if (dismissing_)
        return;
    dismissing_ = true;
    stopTimerAndClickWatch();
    ArtProgressHUD*& slot = art_hud::sharedSlot();
    if (slot == this)
        slot = nullptr;
    // Closed once faded out; deleted later, as this runs inside the fade's own signal.
    window_->fadeTo(0, [this] {
        window_->hide();
        deleteLater();
    });
}

bool ArtProgressHUD::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress || alertType_ == kLoading)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton)
        return false;
    // A click on the HUD or anywhere outside it ends the notice; the click
    // itself goes on to its target.
    if (watched == window_.get() || clickWatch_)
        dismiss();
    return false;
}
