#include "ui/mmShortcutWindow.h"

#include "core/AppStyle.h"
#include "core/LGNLocalizedString.h"
#include "core/MMViewGeometry.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "translate/SnipTranslationLauncher.h"

#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <X11/keysym.h>

const QString mmShortcutWindow::kTitle = QStringLiteral("设置截屏翻译快捷键");
const QString mmShortcutWindow::kPrompt = QStringLiteral("按下新的快捷键（例如 Ctrl+3），按 Esc 取消。");
const QString mmShortcutWindow::kCancel = QStringLiteral("取消");
const QString mmShortcutWindow::kNeedsModifierHint = QStringLiteral("请同时按住 Ctrl、Alt、Shift 或 Super 键。");
const QString mmShortcutWindow::kUnknownKeyHint = QStringLiteral("该按键不能用作快捷键。");

namespace {

// Digits as Shift turns them on the US layout: the key is still the digit.
int shortcutShiftedDigit(int key)
{
    static const QString shifted = QStringLiteral(")!@#$%^&*(");
    if (key < 0x20 || key > 0x7e)
        return 0;
    const int index = shifted.indexOf(QChar(key));
    return index < 0 ? 0 : Qt::Key_0 + index;
}

unsigned long shortcutKeySymbol(const QKeyEvent& event)
{
    int key = event.key();
    if (const int digit = shortcutShiftedDigit(key))
        key = digit;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return XK_a + (key - Qt::Key_A);
    if (key >= 0x20 && key <= 0x7e)
        return static_cast<unsigned long>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return XK_F1 + static_cast<unsigned long>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return XK_Return;
    case Qt::Key_Tab:
        return XK_Tab;
    case Qt::Key_Backspace:
        return XK_BackSpace;
    case Qt::Key_Delete:
        return XK_Delete;
    case Qt::Key_Home:
        return XK_Home;
    case Qt::Key_Left:
        return XK_Left;
    case Qt::Key_Right:
        return XK_Right;
    case Qt::Key_Up:
        return XK_Up;
    case Qt::Key_Down:
        return XK_Down;
    default:
        return 0;
    }
}

} // namespace

mmShortcutWindow::mmShortcutWindow(
    platform::Preferences& defaults, MMwebconfig& config, platform::NotificationCenter& center)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint)
    , defaults_(defaults)
    , config_(config)
    , center_(center)
{
    AppStyle::applyTo(this);
    titleString_ = new QLabel(this);
    titleString_->setProperty("role", QStringLiteral("title"));
    shortcutView_ = new QLabel(this);
    shortcutView_->setAlignment(Qt::AlignCenter);
    shortcutView_->setStyleSheet(QStringLiteral("QLabel { border: 1px solid %1; border-radius: 6px; padding: 8px;"
                                                " font-size: 18px; background: #f6f8fb; }")
                                     .arg(AppStyle::kAccent.name()));
    prompt_ = new QLabel(this);
    prompt_->setWordWrap(true);
    prompt_->setProperty("role", QStringLiteral("muted"));
    hint_ = new QLabel(this);
    hint_->setWordWrap(true);
    hint_->setProperty("role", QStringLiteral("error"));
    // The button never takes the keyboard: every key goes to the recorder.
    cancel_ = new QPushButton(this);
    cancel_->setFocusPolicy(Qt::NoFocus);
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(AppStyle::kMargin, AppStyle::kMargin - 4, AppStyle::kMargin, AppStyle::kMargin - 6);
    layout->setSpacing(AppStyle::kSpacing);
    layout->addWidget(titleString_);
    layout->addWidget(prompt_);
    layout->addWidget(shortcutView_);
    layout->addWidget(hint_);
    layout->addLayout(buttons);
    setFocusPolicy(Qt::StrongFocus);
    resize(380, 200);
    init_uidata();
    showCurrent();
    languageToken_ = center_.addObserver(
        notifications::kHadChangeUILanguage, [this](const platform::Notification&) { init_uidata(); });
}

void mmShortcutWindow::init_uidata()
{
    titleString_->setText(LGNLocalizedString::lgnAppLocalizedString(kTitle));
    setWindowTitle(titleString_->text());
    prompt_->setText(LGNLocalizedString::lgnAppLocalizedString(kPrompt));
    cancel_->setText(LGNLocalizedString::lgnAppLocalizedString(kCancel));
    showHint(hintKey_);
}

void mmShortcutWindow::showHint(const QString& key)
{
    hintKey_ = key;
    hint_->setText(key.isEmpty() ? QString() : LGNLocalizedString::lgnAppLocalizedString(key));
}

void mmShortcutWindow::showCurrent()
{
    shortcutView_->setText(SnipTranslationLauncher::storedHotkey(defaults_).shownText());
}

void mmShortcutWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!centred_)
        centre();
}

void mmShortcutWindow::centre()
{
    centred_ = true;
    MMViewGeometry::centreOnScreen(*this);
}

QString mmShortcutWindow::prompt() const
{
    return prompt_->text();
}

QString mmShortcutWindow::shownHotkey() const
{
    return shortcutView_->text();
}

QString mmShortcutWindow::hint() const
{
    return hint_->text();
}

std::optional<platform::Hotkey> mmShortcutWindow::hotkeyForKeyEvent(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return std::nullopt;
    default:
        break;
    }
    const int code = platform::Hotkey::keyCodeForSymbol(shortcutKeySymbol(event));
    if (code < 0)
        return std::nullopt;
    quint32 flags = 0;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::ControlModifier)
        flags |= platform::Hotkey::kCommand;
    if (modifiers & Qt::MetaModifier)
        flags |= platform::Hotkey::kControl;
    if (modifiers & Qt::AltModifier)
        flags |= platform::Hotkey::kOption;
    if (modifiers & Qt::ShiftModifier)
        flags |= platform::Hotkey::kShift;
    return platform::Hotkey { quint32(code), flags };
}

void mmShortcutWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    const std::optional<platform::Hotkey> hotkey = hotkeyForKeyEvent(*event);
    if (!hotkey) {
        // Modifiers alone are the start of a combination, not a mistake.
        if (event->key() != Qt::Key_Shift && event->key() != Qt::Key_Control && event->key() != Qt::Key_Alt
            && event->key() != Qt::Key_Meta)
            showHint(kUnknownKeyHint);
        return;
    }
    if (!hotkey->hasModifier()) {
        showHint(kNeedsModifierHint);
        return;
    }
    showHint(QString());
    SnipTranslationLauncher::storeHotkey(defaults_, *hotkey);
    // The settings keep the readable form their readers know.
    config_.setSec_ocr_ShortcutKey(hotkey->displayText());
    showCurrent();
    center_.post(notifications::kHadNewOCRHotkey);
    close();
}
