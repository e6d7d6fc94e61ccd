#include "voice/mmSpeechViewWC.h"

#include "core/AppStyle.h"
#include "core/MMColor.h"
#include "core/Notifications.h"
#include "core/WindowFrameAutosave.h"
#include "platform/MainQueue.h"
#include "voice/MMAudioObjectManager.h"

#include <QBoxLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QWidget>
#include <QWindow>

const QString mmSpeechViewWC::kWindowFrameAutosaveName = QStringLiteral("mmSpeechWindow");

namespace {

constexpr int kWindowWidth = 420;
constexpr int kWindowHeight = 150;
constexpr int kSpeechCornerRadius = 12;
constexpr int kSpeechBottomMargin = 120; // above the bottom of the screen's free area
constexpr int kTextFontPixels = 16;
constexpr int kTextInset = 10;
constexpr int kLineSpacing = 4;
constexpr int kLevelImageCount = 9; // images 0 to 8
constexpr QSize kLevelImageSize(44, 22);

// Level image n lights the first n of eight bars, each taller than the one
// before; image 0 shows the bars unlit (listening, silence).
QPixmap levelImage(int number, qreal pixelRatio)
{
    QPixmap image(kLevelImageSize * pixelRatio);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor lit = MMColor::mm_colorWithHexString(QStringLiteral("#1191FE"));
    const QColor unlit = MMColor::mm_colorWithHexString(QStringLiteral("#C9D1DA"));
    constexpr int bars = kLevelImageCount - 1;
    constexpr qreal barWidth = 3.5;
    constexpr qreal gap = (kLevelImageSize.width() - bars * barWidth) / (bars - 1);
    for (int i = 0; i < bars; ++i) {
        const qreal height = 4.0 + (kLevelImageSize.height() - 4.0) * i / (bars - 1);
        const QRectF bar(i * (barWidth + gap), kLevelImageSize.height() - height, barWidth, height);
        painter.setBrush(i < number ? lit : unlit);
        painter.drawRoundedRect(bar, 1.5, 1.5);
    }
    return image;
}

class LevelListener final : public MMAudioObjectManagerDelegate {
public:
    explicit LevelListener(mmSpeechViewWC& window)
        : window_(window)
    {
    }
    void getAudioDecibelValue(int level) override { window_.getAudioDecibelValue(level); }

private:
    mmSpeechViewWC& window_;
};

} // namespace

mmSpeechViewWC::mmSpeechViewWC(platform::Executor& executor, platform::Preferences& defaults,
    MMAudioObjectManager& recorder, platform::NotificationCenter& center)
    : executor_(executor)
    , levelListener_(std::make_shared<LevelListener>(*this))
{
    buildWindow();
    placeWindowByDefault();
    // Restores the frame of an earlier run over the default placement.
    new WindowFrameAutosave(window_.get(), kWindowFrameAutosaveName, defaults);
    recorder.setDelegate(levelListener_);
    languageObserver_ = center.addObserver(
        notifications::kHadChangeUILanguage, [this](const platform::Notification&) { languageChanged(); });
}

mmSpeechViewWC::~mmSpeechViewWC()
{
    cancelPendingClose();
}

void mmSpeechViewWC::buildWindow()
{
    // A tool window on top of the others that never takes the focus: the
    // application being dictated into must keep the keyboard.
    window_ = std::make_unique<QWidget>(nullptr,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    window_->setFocusPolicy(Qt::NoFocus);
    window_->setObjectName(QStringLiteral("speechPanel"));
    window_->setFixedSize(kWindowWidth, kWindowHeight);
    // A pale panel with a thin outline, so it stands out over light windows too.
    window_->setAttribute(Qt::WA_StyledBackground);
    window_->setStyleSheet(
        QStringLiteral("#speechPanel { background: %1; border: 1px solid %2; border-radius: %3px; }"
                       " QLabel { color: %4; } QTextEdit { background: transparent; color: black; }")
            .arg(MMColor::mm_colorWithHexString(QStringLiteral("#F4F6F9")).name(),
                MMColor::mm_colorWithHexString(QStringLiteral("#AEB8C5")).name())
            .arg(kSpeechCornerRadius)
            .arg(MMColor::mm_colorWithHexString(QStringLiteral("#4A5563")).name()));
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, kWindowWidth, kWindowHeight), kSpeechCornerRadius, kSpeechCornerRadius);
    window_->setMask(QRegion(rounded.toFillPolygon().toPolygon()));

    languageLabel_ = new QLabel(window_.get());
    languageLabel_->setTextFormat(Qt::PlainText);
    languageLabel_->setTextInteractionFlags(Qt::NoTextInteraction);
    QFont labelFont = AppStyle::font(13);
    labelFont.setBold(true);
    languageLabel_->setFont(labelFont);

    audioLevelIV_ = new QLabel(window_.get());
    audioLevelIV_->setFixedSize(kLevelImageSize);

    fromTextView_ = new QTextEdit(window_.get());
    fromTextView_->setReadOnly(true);
    fromTextView_->setTextInteractionFlags(Qt::NoTextInteraction);
    fromTextView_->setFocusPolicy(Qt::NoFocus);
    fromTextView_->setAcceptRichText(false);
    fromTextView_->setFrameShape(QFrame::NoFrame);
    fromTextView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    fromTextView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fromTextView_->setLineWrapMode(QTextEdit::WidgetWidth);
    fromTextView_->viewport()->setAutoFillBackground(false);
    fromTextView_->setFont(AppStyle::font(kTextFontPixels));
    fromTextView_->document()->setDocumentMargin(kTextInset);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(kTextInset + 6, 0, 4, 0);
    top->addWidget(languageLabel_, 1);
    top->addWidget(audioLevelIV_, 0, Qt::AlignVCenter);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(6, 10, 6, 6);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(fromTextView_, 1);

    // The window moves when dragged anywhere on it.
    for (QObject* part : { static_cast<QObject*>(window_.get()), static_cast<QObject*>(languageLabel_),
             static_cast<QObject*>(audioLevelIV_), static_cast<QObject*>(fromTextView_->viewport()) })
        part->installEventFilter(this);
}

void mmSpeechViewWC::placeWindowByDefault()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    window_->move(
        free.x() + (free.width() - kWindowWidth) / 2, free.bottom() + 1 - kSpeechBottomMargin - kWindowHeight);
}

void mmSpeechViewWC::showWindow()
{
    cancelPendingClose();
    window_->show();
    window_->raise();
}

void mmSpeechViewWC::close()
{
    cancelPendingClose();
    window_->hide();
}

void mmSpeechViewWC::closeAfterDelay(double seconds)
{
    cancelPendingClose();
    pendingClose_ = executor_.asyncAfter(seconds, [this] {
        pendingClose_ = 0;
        window_->hide();
    });
}

void mmSpeechViewWC::cancelPendingClose()
{
    if (pendingClose_ != 0)
        executor_.cancel(pendingClose_);
    pendingClose_ = 0;
}

void mmSpeechViewWC::windowText(const QString& text)
{
    shownText_ = {};
    showText(text);
}

void mmSpeechViewWC::windowText(LocalizedText text)
{
    shownText_ = std::move(text);
    showText(shownText_ ? shownText_() : QString());
}

void mmSpeechViewWC::showText(const QString& text)
{
    fromTextView_->setPlainText(text);
    QTextBlockFormat spacing;
    spacing.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    QTextCursor all(fromTextView_->document());
    all.select(QTextCursor::Document);
    all.mergeBlockFormat(spacing);
    QScrollBar* bar = fromTextView_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void mmSpeechViewWC::languageLabel(const QString& text)
{
    labelText_ = {};
    languageLabel_->setText(text);
}

void mmSpeechViewWC::languageLabel(LocalizedText text)
{
    labelText_ = std::move(text);
    languageLabel_->setText(labelText_ ? labelText_() : QString());
}

void mmSpeechViewWC::languageChanged()
{
    if (labelText_)
        languageLabel_->setText(labelText_());
    if (shownText_)
        showText(shownText_());
}

void mmSpeechViewWC::getAudioDecibelValue(int level)
{
    changeVolumeLevel(level);
}

void mmSpeechViewWC::changeVolumeLevel(int level)
{
    if (!platform::MainQueue::isMainThread()) {
        QMetaObject::invokeMethod(
            this, [this, level] { changeVolumeLevel(level); }, Qt::QueuedConnection);
        return;
    }
    // Truncating division, so -9 to 9 all give image 0.
    const int number = level / 10;
    if (number < 0 || number >= kLevelImageCount) {
        levelImageNumber_ = -1;
        audioLevelIV_->clear();
        return;
    }
    if (number == levelImageNumber_)
        return;
    levelImageNumber_ = number;
    audioLevelIV_->setPixmap(levelImage(number, window_->devicePixelRatioF()));
}

bool mmSpeechViewWC::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        // The window manager moves the window where it can; otherwise follow the pointer.
        QWindow* handle = window_->windowHandle();
        dragging_ = !(handle && handle->startSystemMove());
        dragOffset_ = mouse->globalPosition().toPoint() - window_->pos();
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!dragging_ || !(mouse->buttons() & Qt::LeftButton))
            break;
        window_->move(mouse->globalPosition().toPoint() - dragOffset_);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!dragging_)
            break;
        dragging_ = false;
        return true;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
