#include "translate/SnipTranslationLauncher.h"

#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "platform/DragMonitor.h"
#include "platform/Executor.h"
#include "platform/GlobalHotkey.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "translate/MMsnipTransWC.h"
#include "translate/Selection.h"

#include <QGuiApplication>

const QString SnipTranslationLauncher::kShortcutKey = QStringLiteral("customShortcut");
const QString SnipTranslationLauncher::kKeyCodeField = QStringLiteral("keyCode");
const QString SnipTranslationLauncher::kModifierFlagsField = QStringLiteral("modifierFlags");
const platform::Hotkey SnipTranslationLauncher::kDefaultHotkey { 20, platform::Hotkey::kCommand };
const QString SnipTranslationLauncher::kHotkeyNoticeKey = QStringLiteral("screenshot-hotkey");

SnipTranslationLauncher::SnipTranslationLauncher(Services services)
    : services_(std::move(services))
{
    auto observe = [this](const QString& name, std::function<void()> action) {
        tokens_.push_back(services_.center.addObserver(
            name, [action = std::move(action)](const platform::Notification&) { action(); }));
    };
    observe(notifications::kHadNewOCRHotkey, [this] { registerHotKey(); });
}

SnipTranslationLauncher::~SnipTranslationLauncher()
{
    *alive_ = false;
    if (services_.dragMonitor.isRunning())
        services_.dragMonitor.stop();
    services_.hotkey.unregisterHotkey();
}

platform::Hotkey SnipTranslationLauncher::storedHotkey(const platform::Preferences& defaults)
{
    const QVariantMap stored = defaults.value(kShortcutKey).toMap();
    bool codeOk = false, flagsOk = false;
    const qlonglong code = stored.value(kKeyCodeField).toLongLong(&codeOk);
    const qlonglong flags = stored.value(kModifierFlagsField).toLongLong(&flagsOk);
    if (!codeOk || !flagsOk || code < 0 || code > 0xffff || flags < 0 || flags > 0xffffffffLL)
        return kDefaultHotkey;
    return platform::Hotkey { quint32(code), quint32(flags) };
}

void SnipTranslationLauncher::storeHotkey(platform::Preferences& defaults, const platform::Hotkey& hotkey)
{
    defaults.setValue(kShortcutKey,
        QVariantMap { { kKeyCodeField, qlonglong(hotkey.keyCode) },
            { kModifierFlagsField, qlonglong(hotkey.modifierFlags) } });
}

void SnipTranslationLauncher::start()
{
    services_.defaults.registerDefaults(QVariantMap { { kShortcutKey,
        QVariantMap { { kKeyCodeField, qlonglong(kDefaultHotkey.keyCode) },
            { kModifierFlagsField, qlonglong(kDefaultHotkey.modifierFlags) } } } });
    registerHotKey();
    if (services_.config.sec_huaciOpen() != 0)
        beginGlobalEventMonitor();
}

void SnipTranslationLauncher::registerHotKey()
{
    const platform::Hotkey hotkey = storedHotkey(services_.defaults);
    std::weak_ptr<bool> alive = alive_;
    const platform::GlobalHotkey::Result result = services_.hotkey.registerHotkey(hotkey, [this, alive] {
        if (alive.lock())
            showSnipTransWC();
    });
    if (result != platform::GlobalHotkey::Result::Registered) {
        // Each new key that fails is told once; the same failure again is not.
        platform::UserNotices::shared().post(kHotkeyNoticeKey + QLatin1Char('-') + hotkey.displayText(),
            platform::GlobalHotkey::problemText(result, hotkey));
    }
}

MMsnipTransWC& SnipTranslationLauncher::ensureWindow()
{
    if (!window_)
        window_ = services_.makeWindow();
    return *window_;
}

void SnipTranslationLauncher::showSnipTransWC()
{
    MMsnipTransWC& window = ensureWindow();
    // The capture must not show the window itself.
    if (window.isVisible())
        window.hide();
    window.setIsSniping(true);
    std::weak_ptr<bool> alive = alive_;
    services_.executor.asyncAfter(kSnipDelaySeconds, [this, alive] {
        if (!alive.lock())
            return;
        MMsnipTransWC& window = ensureWindow();
        window.setIsSniping(true);
        window.snipTranslate();
    });
}

void SnipTranslationLauncher::showSelectionTranslateWindow()
{
    std::weak_ptr<bool> alive = alive_;
    services_.selection.getText([this, alive](const QString& text) {
        if (!alive.lock() || text.isEmpty() || text == selectionText_)
            return;
        selectionText_ = text;
        MMsnipTransWC& window = ensureWindow();
        window.setIsSniping(false);
        window.translateSelectedText(text);
    });
}

void SnipTranslationLauncher::cancelSnipTrans()
{
    if (window_)
        window_->hide();
}

void SnipTranslationLauncher::beginGlobalEventMonitor()
{
    if (services_.dragMonitor.isRunning())
        return;
    std::weak_ptr<bool> alive = alive_;
    if (!services_.dragMonitor.start([this, alive] {
            if (alive.lock())
                dragEnded();
        }))
        platform::UserNotices::shared().post(QStringLiteral("selection-monitor"),
            QStringLiteral("Selection translation is not available: this desktop session does not tell "
                           "applications about mouse drags."));
}

void SnipTranslationLauncher::endGlobalEventMonitor()
{
    if (selectionPending_) {
        services_.executor.cancel(pendingSelection_);
        selectionPending_ = false;
    }
    services_.dragMonitor.stop();
}

void SnipTranslationLauncher::dragEnded()
{
    // Drags inside the application's own windows select nothing to translate.
    if (QGuiApplication::focusWindow())
        return;
    if (selectionPending_)
        services_.executor.cancel(pendingSelection_);
    selectionPending_ = true;
    std::weak_ptr<bool> alive = alive_;
    pendingSelection_ = services_.executor.asyncAfter(kSelectionDelaySeconds, [this, alive] {
        if (!alive.lock())
            return;
        selectionPending_ = false;
        showSelectionTranslateWindow();
    });
}
