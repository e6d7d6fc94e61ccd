#include "device/MMHidManager.h"

#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"

#include <cmath>

MMHidManager& MMHidManager::sharedMMHidManager()
{
    static MMHidManager manager(
        MMUserInfo::sharedMMUserInfo().webConfig(), platform::MainQueue::shared(), platform::Clock::system());
    return manager;
}

MMHidManager::MMHidManager(MMwebconfig& config, platform::Executor& executor, platform::Clock& clock)
    : config_(config)
    , executor_(executor)
    , clock_(clock)
{
}

MMHidManager::~MMHidManager()
{
    for (const auto& [key, state] : keys_) {
        if (state.longPressTimer)
            executor_.cancel(state.longPressTimer);
        if (state.clickTimer)
            executor_.cancel(state.clickTimer);
    }
}

void MMHidManager::mousebeginAudioCallback(PressTypeHandler handler)
{
    pressTypeBlock_ = std::move(handler);
}

quint64 MMHidManager::KeyValueConversionToLongPressFunctionWithEventType(
    quint32 eventType, quint64 longSelectedIndex)
{
    quint64 begin = PressTypeNone;
    switch (longSelectedIndex) {
    case 1:
        begin = PressTypeVoiceTypingBegin;
        break;
    case 2:
        begin = PressTypeVoiceTranslationBegin;
        break;
    case 3:
        begin = PressTypeVoiceSearchBegin;
        break;
    case 4:
        begin = PressTypeAiVoiceBegin;
        break;
    default:
        return PressTypeNone;
    }
    return eventType == kKeyDown ? begin : begin + 1;
}

void MMHidManager::getKeyCode(quint16 keyCode, quint32 eventType)
{
    if (keyCode != kVoiceKey && keyCode != kTranslationKey && keyCode != kAiKey)
        return;
    if (eventType == kKeyDown)
        keyDown(keyCode);
    else if (eventType == kKeyUp)
        keyUp(keyCode);
}

void MMHidManager::keyDown(quint16 keyCode)
{
    KeyState& key = keys_[keyCode];
    if (key.held)
        return; // an auto-repeat, or a down whose up went missing: the press goes on
    key.held = true;
    key.longPressBegun = false;
    key.longPressTimer = executor_.asyncAfter(kLongPressDelay, [this, keyCode] {
        keys_[keyCode].longPressTimer = 0;
        HandlingLongPressEventsWithKeyCode(keyCode, kKeyDown);
    });
}

void MMHidManager::keyUp(quint16 keyCode)
{
    const auto found = keys_.find(keyCode);
    // A release without a press (a key already held when the tap started):
    // nothing began, so nothing ends.
    if (found == keys_.end() || !found->second.held)
        return;
    KeyState& key = found->second;
    key.held = false;

    if (key.longPressBegun) {
        key.longPressBegun = false;
        HandlingLongPressEventsWithKeyCode(keyCode, kKeyUp);
        return; // a long press is not a release to pair a double click with
    }

    executor_.cancel(key.longPressTimer);
    key.longPressTimer = 0;
    const double now = clock_.monotonic();
    const bool closeToLast = key.lastShortRelease && withinDoubleClickWindow(now - *key.lastShortRelease);
    key.lastShortRelease = now;
    if (!closeToLast) {
        if (key.clickTimer) {
            // The earlier click is due at this very moment: report it rather than lose it.
            executor_.cancel(key.clickTimer);
            key.clickTimer = 0;
            HandlingClickEventsWithKeyCode(keyCode, kKeyUp);
        }
        key.clickTimer = executor_.asyncAfter(kClickWait, [this, keyCode] {
            keys_[keyCode].clickTimer = 0;
            HandlingClickEventsWithKeyCode(keyCode, kKeyUp);
        });
        return;
    }
    // The first click of the pair is not reported on its own.
    executor_.cancel(key.clickTimer);
    key.clickTimer = 0;
    DdoubleClickEventsWithKeyCode(keyCode, kKeyUp);
}

bool MMHidManager::withinDoubleClickWindow(double elapsed)
{
    // Compared in whole microseconds, so that a gap of exactly the window is
    // never taken for a hair less through rounding.
    if (!(elapsed >= 0 && elapsed < 2 * kDoubleClickWindow))
        return false;
    return std::llround(elapsed * 1e6) < std::llround(kDoubleClickWindow * 1e6);
}

quint64 MMHidManager::longPressFunction(quint16 keyCode) const
{
    switch (keyCode) {
    case kVoiceKey:
        return config_.fir_voice_long();
    case kTranslationKey:
        return config_.fir_trans_long();
    case kAiKey:
        return config_.fir_ai_long();
    default:
        return 0;
    }
}

void MMHidManager::HandlingLongPressEventsWithKeyCode(quint16 keyCode, quint32 eventType)
{
    KeyState& key = keys_[keyCode];
    if (eventType == kKeyDown) {
        key.longPressBegun = true;
        key.beginCode
            = KeyValueConversionToLongPressFunctionWithEventType(kKeyDown, longPressFunction(keyCode));
        emitPressType(key.beginCode);
        return;
    }
    // The end always matches the begin, even if the key's function was
    // changed while it was held: a dictation begun must be the one that ends.
    emitPressType(key.beginCode == PressTypeNone ? PressTypeNone : key.beginCode + 1);
}

void MMHidManager::HandlingClickEventsWithKeyCode(quint16 keyCode, quint32)
{
    switch (keyCode) {
    case kVoiceKey:
        emitPressType(PressTypeVoiceClick);
        break;
    case kTranslationKey:
        emitPressType(PressTypeTranslationClick);
        break;
    case kAiKey:
        emitPressType(PressTypeAiClick);
        break;
    default:
        break;
    }
}

void MMHidManager::DdoubleClickEventsWithKeyCode(quint16 keyCode, quint32)
{
    // Only the voice key has a double-click function.
    if (keyCode == kVoiceKey)
        emitPressType(PressTypeVoiceDoubleClick);
}

void MMHidManager::emitPressType(quint64 pressType)
{
    if (pressTypeBlock_)
        pressTypeBlock_(pressType);
}
