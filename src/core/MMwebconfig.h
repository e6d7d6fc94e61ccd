#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {
class Preferences;
}

// The settings record: a typed view over the user defaults. Every getter
// reads its key at the moment of use, so a value written by another writer
// (the mouse's DPI reply, the settings page) is seen at once; every setter
// writes through.
class MMwebconfig {
public:
    explicit MMwebconfig(platform::Preferences& defaults);

    // Keys, exactly as stored.
    static const QString kDpi, kDownAddress, kVoiceShort, kVoiceLong, kTransShort, kTransLong, kAiShort, kAiLong,
        kPunctuation, kDynamicTyping, kHuaciOpen, kOcrShortcutKey, kSearchEngine, kAppStartup, kBackgroundMode;

    quint64 fir_dpi() const { return get(kDpi); }
    void setFir_dpi(quint64 v) { set(kDpi, v); }
    quint64 fir_downAddress() const { return get(kDownAddress); }
    void setFir_downAddress(quint64 v) { set(kDownAddress, v); }
    quint64 fir_voice_short() const { return get(kVoiceShort); }
    void setFir_voice_short(quint64 v) { set(kVoiceShort, v); }
    quint64 fir_voice_long() const { return get(kVoiceLong); }
    void setFir_voice_long(quint64 v) { set(kVoiceLong, v); }
    quint64 fir_trans_short() const { return get(kTransShort); }
    void setFir_trans_short(quint64 v) { set(kTransShort, v); }
    quint64 fir_trans_long() const { return get(kTransLong); }
    void setFir_trans_long(quint64 v) { set(kTransLong, v); }
    quint64 fir_ai_short() const { return get(kAiShort); }
    void setFir_ai_short(quint64 v) { set(kAiShort, v); }
    quint64 fir_ai_long() const { return get(kAiLong); }
    void setFir_ai_long(quint64 v) { set(kAiLong, v); }
    quint64 sec_punctution() const { return get(kPunctuation); }
    void setSec_punctution(quint64 v) { set(kPunctuation, v); }
    quint64 sec_dynamic_typing() const { return get(kDynamicTyping); }
    void setSec_dynamic_typing(quint64 v) { set(kDynamicTyping, v); }
    quint64 sec_huaciOpen() const { return get(kHuaciOpen); }
    void setSec_huaciOpen(quint64 v) { set(kHuaciOpen, v); }
    quint64 sec_searchEngine() const { return get(kSearchEngine); }
    void setSec_searchEngine(quint64 v) { set(kSearchEngine, v); }
    quint64 Appstartup() const { return get(kAppStartup); }
    void setAppstartup(quint64 v) { set(kAppStartup, v); }
    quint64 backgroundMode() const { return get(kBackgroundMode); }
    void setBackgroundMode(quint64 v) { set(kBackgroundMode, v); }

    // Display text of the screenshot hot key; a null string when absent.
    QString sec_ocr_ShortcutKey() const;
    void setSec_ocr_ShortcutKey(const QString& text);

private:
    quint64 get(const QString& key) const;
    void set(const QString& key, quint64 value);

    platform::Preferences& defaults_;
};
