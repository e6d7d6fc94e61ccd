#include "voice/UWSpeechViewShow.h"

#include "core/AppStyle.h"
#include "core/Notifications.h"
#include "platform/MainQueue.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/TextFitting.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QThread>
#include <QWidget>

namespace speech_overlay {

constexpr int kRightInset = 280 + 50;
constexpr int kTopFromBottom = 180;
constexpr int kCornerRadius = 10;
constexpr int kFontPixels = 20;
constexpr int kSmallestFontPixels = 12;
// The text's room: right of the prompt image, left of the level image.
constexpr int kTextLeft = 60;
constexpr int kTextRight = UWSpeechViewShow::kWidth - 32;
constexpr int kMaxLevelImage = 8;
constexpr int kLevelThreshold = 30;
const QColor kTextColor(10, 10, 10);
const QColor kAccent(0x2f, 0x80, 0xed);

// The prompt images: a microphone, filled while the key is held ("SpeechLeft1").
QPixmap promptImage(bool held)
{
    QPixmap image(50, 50);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(held ? kAccent : QColor(0xe8, 0xee, 0xf6));
    painter.drawEllipse(QRectF(3, 3, 44, 44));
    const QColor ink = held ? QColor(Qt::white) : kAccent;
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(20, 12, 10, 18), 5, 5);
    painter.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(15, 16, 20, 19), 180 * 16, 180 * 16);
    painter.drawLine(QPointF(25, 35), QPointF(25, 39));
    return image;
}

// Level image n: n of eight bars lit, from the bottom.
QPixmap levelImage(int number)
{
    QPixmap image(20, 60);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kMaxLevelImage; ++i) {
        painter.setBrush(i < number ? kAccent : QColor(0xd8, 0xdf, 0xe8));
        painter.drawRoundedRect(QRectF(4, 52 - i * 6, 12, 4), 1.5, 1.5);
    }
    return image;
}

class LevelListener final : public MMAudioObjectManagerDelegate {
public:
    explicit LevelListener(UWSpeechViewShow& overlay)
        : overlay_(overlay)
    {
    }
    void getAudioDecibelValue(int level) override { overlay_.getAudioDecibelValue(level); }

private:
    UWSpeechViewShow& overlay_;
};

} // namespace speech_overlay

UWSpeechViewShow& UWSpeechViewShow::sharedUWSpeechViewShow()
{
    static UWSpeechViewShow* shared
        = new UWSpeechViewShow(platform::MainQueue::shared(), MMAudioObjectManager::sharedManager());
    return *shared;
}

UWSpeechViewShow::UWSpeechViewShow(
    platform::Executor& executor, MMAudioObjectManager& recorder, platform::NotificationCenter& center)
    : executor_(executor)
    , levelListener_(std::make_shared<speech_overlay::LevelListener>(*this))
{
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
    recorder.setDelegate(levelListener_);
    languageObserver_
        = center.addObserver(notifications::kHadChangeUILanguage, [this](const platform::Notification&) {
              if (shownText_ && tipTextView_)
                  TextFitting::setFittedText(*tipTextView_, shownText_(), speech_overlay::kFontPixels,
                      speech_overlay::kSmallestFontPixels);
          });
}

UWSpeechViewShow::~UWSpeechViewShow()
{
    cancelTimer();
}

bool UWSpeechViewShow::onMainThread(std::function<void()> work)
{
    if (QThread::currentThread() == thread())
        return true;
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    return false;
}

void UWSpeechViewShow::createWindow()
{
    if (speechWindow_)
        return;
    speechWindow_ = std::make_unique<QWidget>(nullptr,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    speechWindow_->setAttribute(Qt::WA_ShowWithoutActivating);
    speechWindow_->setAttribute(Qt::WA_TranslucentBackground);
    speechWindow_->setFocusPolicy(Qt::NoFocus);
    speechWindow_->setObjectName(QStringLiteral("speechOverlay"));
    speechWindow_->setFixedSize(kWidth, kHeight);
    // Near the lower right of the primary screen: the panel's bottom edge
    // 180 pixels above the screen's, its left edge 330 pixels left of the
    // screen's right edge.
    QPoint origin(-speech_overlay::kRightInset, speech_overlay::kTopFromBottom);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        origin = QPoint(area.x() + area.width() - speech_overlay::kRightInset,
            area.y() + area.height() - speech_overlay::kTopFromBottom - kHeight);
    }
    speechWindow_->move(origin);

    auto* panel = new QLabel(speechWindow_.get());
    panel->setGeometry(0, 0, kWidth, kHeight);
    QPixmap background(kWidth, kHeight);
    background.fill(Qt::transparent);
    {
        QPainter painter(&background);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(0, 0, kWidth, kHeight), speech_overlay::kCornerRadius,
            speech_overlay::kCornerRadius);
        painter.fillPath(rounded, Qt::white);
    }
    panel->setPixmap(background);
    // Cut to the rounded panel, so no compositor is needed for its corners.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, kWidth, kHeight), speech_overlay::kCornerRadius,
        speech_overlay::kCornerRadius);
    speechWindow_->setMask(QRegion(outline.toFillPolygon().toPolygon()));

    tipImageView_ = new QLabel(speechWindow_.get());
    tipImageView_->setGeometry(5, 5, 50, 50);
    tipTextView_ = new QLabel(speechWindow_.get());
    tipTextView_->setGeometry(
        speech_overlay::kTextLeft, 0, speech_overlay::kTextRight - speech_overlay::kTextLeft, kHeight);
    tipTextView_->setContentsMargins(0, 2, 0, 2);
    tipTextView_->setAlignment(Qt::AlignCenter);
    tipTextView_->setTextFormat(Qt::PlainText);
    tipTextView_->setTextInteractionFlags(Qt::NoTextInteraction);
    tipTextView_->setFont(AppStyle::font(speech_overlay::kFontPixels));
    QPalette palette = tipTextView_->palette();
    palette.setColor(QPalette::WindowText, speech_overlay::kTextColor);
    tipTextView_->setPalette(palette);
    volumeView_ = new QLabel(speechWindow_.get());
    volumeView_->setGeometry(kWidth - 30, 0, 20, kHeight);
    setPromptImage(QStringLiteral("SpeechLeft"));
    setLevelImage(0);
}

QWidget* UWSpeechViewShow::speechWindow()
{
    createWindow();
    return speechWindow_.get();
}

QLabel* UWSpeechViewShow::tipImageView()
{
    createWindow();
    return tipImageView_;
}

QLabel* UWSpeechViewShow::tipTextView()
{
    createWindow();
    return tipTextView_;
}

QLabel* UWSpeechViewShow::volumeView()
{
    createWindow();
    return volumeView_;
}

void UWSpeechViewShow::setPromptImage(const QString& name)
{
    promptImageName_ = name;
    tipImageView_->setPixmap(speech_overlay::promptImage(name == QLatin1String("SpeechLeft1")));
}

void UWSpeechViewShow::setLevelImage(int number)
{
    levelImageName_ = QStringLiteral("level_%1").arg(number);
    volumeView_->setPixmap(speech_overlay::levelImage(number));
}

void UWSpeechViewShow::cancelTimer()
{
    if (timer_) {
        executor_.cancel(timer_);
        timer_ = 0;
    }
}

void UWSpeechViewShow::showSpeechView(const QString& text, int)
{
    show(text, {});
}

void UWSpeechViewShow::showSpeechView(LocalizedText text, int)
{
    show(QString(), std::move(text));
}

void UWSpeechViewShow::show(const QString& text, LocalizedText localized)
{
    if (!onMainThread([this, text, localized] { show(text, localized); }))
        return;
    createWindow();
    isLast_ = false;
    isShow_ = true;
    volumeView_->hide();
    cancelTimer();
    setText(text, std::move(localized));
    speechWindow_->show();
    speechWindow_->raise();
}

void UWSpeechViewShow::setText(const QString& text, LocalizedText localized)
{
    createWindow();
    shownText_ = std::move(localized);
    TextFitting::setFittedText(*tipTextView_, shownText_ ? shownText_() : text, speech_overlay::kFontPixels,
        speech_overlay::kSmallestFontPixels);
}

void UWSpeechViewShow::changePromptString(const QString& text)
{
    if (!onMainThread([this, text] { changePromptString(text); }))
        return;
    setText(text, {});
}

void UWSpeechViewShow::changePromptString(LocalizedText text)
{
    if (!onMainThread([this, text] { changePromptString(text); }))
        return;
    setText(QString(), std::move(text));
}

void UWSpeechViewShow::changePromptImgByType(int type)
{
    if (!onMainThread([this, type] { changePromptImgByType(type); }))
        return;
    createWindow();
    if (type == kPromptHeld)
        setPromptImage(QStringLiteral("SpeechLeft1"));
    else if (type == kPromptIdle)
        setPromptImage(QStringLiteral("SpeechLeft"));
}

void UWSpeechViewShow::dismissWithFinishString(const QString& text, double delay)
{
    finish(text, {}, delay);
}

void UWSpeechViewShow::dismissWithFinishString(LocalizedText text, double delay)
{
    finish(QString(), std::move(text), delay);
}

void UWSpeechViewShow::finish(const QString& text, LocalizedText localized, double delay)
{
    if (!onMainThread([this, text, localized, delay] { finish(text, localized, delay); }))
        return;
    if ((localized ? localized() : text).isEmpty()) {
        dismiss();
        return;
    }
    setText(text, std::move(localized));
    dismissSpeechView(delay);
}

void UWSpeechViewShow::dismiss()
{
    if (!onMainThread([this] { dismiss(); }))
        return;
    isLast_ = true;
    isShow_ = false;
    cancelTimer();
    if (speechWindow_) {
        speechWindow_->hide();
        volumeView_->hide();
    }
}

void UWSpeechViewShow::dismissSpeechView()
{
    dismiss();
}

void UWSpeechViewShow::dismissSpeechView(double seconds)
{
    if (!onMainThread([this, seconds] { dismissSpeechView(seconds); }))
        return;
    cancelTimer();
    timer_ = executor_.asyncAfter(seconds, [this] {
        timer_ = 0;
        dismiss();
    });
}

void UWSpeechViewShow::getAudioDecibelValue(int level)
{
    if (!onMainThread([this, level] { getAudioDecibelValue(level); }))
        return;
    createWindow();
    volumeView_->show();
    changeVolumeLevel(level);
}

void UWSpeechViewShow::hideMicrophoneLevel()
{
    if (!onMainThread([this] { hideMicrophoneLevel(); }))
        return;
    createWindow();
    setLevelImage(0);
}

void UWSpeechViewShow::changeVolumeLevel(int level)
{
    if (!onMainThread([this, level] { changeVolumeLevel(level); }))
        return;
    createWindow();
    setLevelImage(level > speech_overlay::kLevelThreshold
            ? std::min(level / 10, speech_overlay::kMaxLevelImage)
            : 0);
}

QPoint UWSpeechViewShow::getCurrentSystemCursorPoint()
{
    return QCursor::pos();
}
