#include "voice/UWTipsViewShow.h"

#include "core/MMColor.h"
#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 60;
constexpr int kRightMargin = 30;
constexpr int kBottomMargin = 150;
constexpr int kCornerRadius = 10;
constexpr int kFontPixels = 21;

} // namespace

UWTipsViewShow& UWTipsViewShow::sharedUWTipsViewShow()
{
    static UWTipsViewShow* shared = new UWTipsViewShow(platform::MainQueue::shared());
    return *shared;
}

UWTipsViewShow::UWTipsViewShow(platform::Executor& executor)
    : executor_(executor)
{
    // Messages from other threads are handed over through this object, so it
    // belongs to the main thread whoever creates it.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

UWTipsViewShow::~UWTipsViewShow()
{
    cancelTimer();
}

void UWTipsViewShow::createWindow()
{
    speechWindow_ = std::make_unique<QWidget>(nullptr,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    speechWindow_->setAttribute(Qt::WA_ShowWithoutActivating);
    speechWindow_->setFocusPolicy(Qt::NoFocus);
    speechWindow_->setObjectName(QStringLiteral("tipWindow"));
    // At the lower right of the primary screen; without a screen, left of the
    // origin where nobody sees it.
    QRect frame(-(kWidth + kRightMargin), kBottomMargin, kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        frame.moveTopLeft(QPoint(area.x() + area.width() - kWidth - kRightMargin,
            area.y() + area.height() - kBottomMargin - kHeight));
    }
    speechWindow_->setGeometry(frame);
    speechWindow_->setFixedSize(kWidth, kHeight);

    QPalette palette = speechWindow_->palette();
    palette.setColor(QPalette::Window, MMColor::mm_colorWithHexString(QStringLiteral("#96CDCD")));
    palette.setColor(QPalette::WindowText, Qt::black);
    speechWindow_->setPalette(palette);
    speechWindow_->setAutoFillBackground(true);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, kWidth, kHeight), kCornerRadius, kCornerRadius);
    speechWindow_->setMask(QRegion(rounded.toFillPolygon().toPolygon()));

    tipTextView_ = new QLabel(speechWindow_.get());
    tipTextView_->setGeometry(0, 0, kWidth, kHeight);
    tipTextView_->setTextFormat(Qt::PlainText);
    tipTextView_->setTextInteractionFlags(Qt::NoTextInteraction);
    tipTextView_->setAlignment(Qt::AlignCenter);
    QFont font = tipTextView_->font();
    font.setPixelSize(kFontPixels);
    tipTextView_->setFont(font);
}

void UWTipsViewShow::showTextWithString(const QString& text)
{
    if (!platform::MainQueue::isMainThread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { showTextWithString(text); }, Qt::QueuedConnection);
        return;
    }
    cancelTimer();
    if (!speechWindow_)
        createWindow();
    tipTextView_->setText(text);
    speechWindow_->show();
    speechWindow_->raise();
    dismissSpeechView(kShowSeconds);
}

void UWTipsViewShow::dismissSpeechView()
{
    cancelTimer();
    if (speechWindow_)
        speechWindow_->hide();
}

void UWTipsViewShow::dismissSpeechView(double seconds)
{
    cancelTimer();
    timer_ = executor_.asyncAfter(seconds, [this] {
        timer_ = 0;
        dismissSpeechView();
    });
}

void UWTipsViewShow::cancelTimer()
{
    if (timer_ != 0)
        executor_.cancel(timer_);
    timer_ = 0;
}
