#include "voice/UWTipsViewShow.h"

#include "core/AppStyle.h"
#include "core/MMColor.h"
#include "core/Notifications.h"
#include "platform/MainQueue.h"
#include "voice/TextFitting.h"

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
constexpr int kSmallestFontPixels = 13;

} // namespace

UWTipsViewShow& UWTipsViewShow::sharedUWTipsViewShow()
{
    static UWTipsViewShow* shared = new UWTipsViewShow(platform::MainQueue::shared());
    return *shared;
}

UWTipsViewShow::UWTipsViewShow(platform::Executor& executor, platform::NotificationCenter& center)
    : executor_(executor)
{
    // Messages from other threads are handed over through this object, so it
    // belongs to the main thread whoever creates it.
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
    languageObserver_
        = center.addObserver(notifications::kHadChangeUILanguage, [this](const platform::Notification&) {
              if (shownText_ && tipTextView_)
                  TextFitting::setFittedText(*tipTextView_, shownText_(), kFontPixels, kSmallestFontPixels);
          });
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
    tipTextView_->setContentsMargins(10, 2, 10, 2);
    tipTextView_->setFont(AppStyle::font(kFontPixels));
}

void UWTipsViewShow::showTextWithString(const QString& text)
{
    show(text, {});
}

void UWTipsViewShow::showTextWithString(LocalizedText text)
{
    show(QString(), std::move(text));
}

void UWTipsViewShow::show(const QString& text, LocalizedText localized)
{
    if (!platform::MainQueue::isMainThread()) {
        QMetaObject::invokeMethod(
            this, [this, text, localized] { show(text, localized); }, Qt::QueuedConnection);
        return;
    }
    cancelTimer();
    if (!speechWindow_)
        createWindow();
    shownText_ = std::move(localized);
    TextFitting::setFittedText(
        *tipTextView_, shownText_ ? shownText_() : text, kFontPixels, kSmallestFontPixels);
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
