#pragma once

#include "platform/Executor.h"

#include <QtGlobal>

#include <functional>
#include <map>
#include <optional>

class MMwebconfig;

namespace platform {
class Clock;
}

// Press codes: key group × 10000 + action.
enum PressType : quint64 {
    PressTypeNone = 0, // long press of a key whose long-press function is none of 1 to 4
    PressTypeVoiceClick = 801010,
    PressTypeTranslationClick = 791010,
    PressTypeAiClick = 901010,
    PressTypeVoiceDoubleClick = 801011,
    PressTypeVoiceTypingBegin = 801012,
    PressTypeVoiceTypingEnd = 801013,
    PressTypeVoiceTranslationBegin = 791012,
    PressTypeVoiceTranslationEnd = 791013,
    PressTypeVoiceSearchBegin = 901012,
    PressTypeVoiceSearchEnd = 901013,
    PressTypeAiVoiceBegin = 901014,
    PressTypeAiVoiceEnd = 901015,
    // Set by the voice-key orchestrator itself for hands-free dictation.
    PressTypeHandsFreeOn = 801014,
    PressTypeHandsFreeOff = 801015,
};

// The press classifier: turns the key-downs and key-ups of the mouse's three
// function keys into press codes — a click of a key, a double click of the
// voice key, or the beginning and end of a long press, reported by the
// function the user assigned to the key's long press. Each key is classified
// on its own, so presses of different keys may overlap. Main thread.
class MMHidManager {
public:
    using PressTypeHandler = std::function<void(quint64 pressType)>;

    // Key codes as the key tap hands them over, and its event types.
    static constexpr quint16 kTranslationKey = 79; // F18
    static constexpr quint16 kVoiceKey = 80; // F19
    static constexpr quint16 kAiKey = 90; // F20
    static constexpr quint32 kKeyDown = 10;
    static constexpr quint32 kKeyUp = 11;

    // Held this long, a press is a long press.
    static constexpr double kLongPressDelay = 0.2;
    // A short press is reported as a click after this wait, unless it was the
    // first half of a double click.
    static constexpr double kClickWait = 0.4;
    // Two short releases of the voice key closer than this make a double click.
    static constexpr double kDoubleClickWindow = 0.4;

    // Over the application's settings, the main queue and the system clock.
    static MMHidManager& sharedMMHidManager();

    MMHidManager(MMwebconfig& config, platform::Executor& executor, platform::Clock& clock);
    virtual ~MMHidManager();
    MMHidManager(const MMHidManager&) = delete;
    MMHidManager& operator=(const MMHidManager&) = delete;

    // Installs the one consumer of press codes, replacing any earlier one.
    void mousebeginAudioCallback(PressTypeHandler handler);
    // One key event from the key tap. Virtual so a recording classifier can
    // stand in for it.
    virtual void getKeyCode(quint16 keyCode, quint32 eventType);

    // The code of a long-press function (1 voice typing, 2 voice translation,
    // 3 voice search, 4 AI voice) for a key-down (its begin) or any other
    // event type (its end); 0 for any other function.
    static quint64 KeyValueConversionToLongPressFunctionWithEventType(
        quint32 eventType, quint64 longSelectedIndex);

private:
    struct KeyState {
        bool held = false;
        platform::TaskId longPressTimer = 0; // pending while held and not yet long
        bool longPressBegun = false;
        quint64 beginCode = 0; // what the running long press began with
        platform::TaskId clickTimer = 0; // a click waiting to be reported
        std::optional<double> lastShortRelease; // monotonic seconds
    };

    void HandlingLongPressEventsWithKeyCode(quint16 keyCode, quint32 eventType);
    void HandlingClickEventsWithKeyCode(quint16 keyCode, quint32 eventType);
    void DdoubleClickEventsWithKeyCode(quint16 keyCode, quint32 eventType);
    void keyDown(quint16 keyCode);
    void keyUp(quint16 keyCode);
    quint64 longPressFunction(quint16 keyCode) const;
    static bool withinDoubleClickWindow(double elapsed);
    void emitPressType(quint64 pressType);

    MMwebconfig& config_;
    platform::Executor& executor_;
    platform::Clock& clock_;
    PressTypeHandler pressTypeBlock_;
    std::map<quint16, KeyState> keys_;
};
