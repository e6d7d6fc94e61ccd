#include "core/MMwebconfig.h"

#include "platform/Preferences.h"

#include <limits>

const QString MMwebconfig::kDpi = QStringLiteral("key_1st_dpi");
const QString MMwebconfig::kDownAddress = QStringLiteral("key_1st_downAddress");
const QString MMwebconfig::kVoiceShort = QStringLiteral("key_1st_voice_short");
const QString MMwebconfig::kVoiceLong = QStringLiteral("key_1st_voice_long");
const QString MMwebconfig::kTransShort = QStringLiteral("key_1st_trans_short");
const QString MMwebconfig::kTransLong = QStringLiteral("key_1st_trans_long");
const QString MMwebconfig::kAiShort = QStringLiteral("key_1st_ai_short");
const QString MMwebconfig::kAiLong = QStringLiteral("key_1st_ai_long");
const QString MMwebconfig::kPunctuation = QStringLiteral("key_2nd_punc");
const QString MMwebconfig::kDynamicTyping = QStringLiteral("key_2nd_dynamic_typing");
const QString MMwebconfig::kHuaciOpen = QStringLiteral("key_2nd_huaciOpen");
const QString MMwebconfig::kOcrShortcutKey = QStringLiteral("key_2nd_ocrShortKey");
const QString MMwebconfig::kSearchEngine = QStringLiteral("key_2nd_searchEngineKey");
const QString MMwebconfig::kAppStartup = QStringLiteral("key_appstarup_2");
const QString MMwebconfig::kBackgroundMode = QStringLiteral("key_backgroundmode");

MMwebconfig::MMwebconfig(platform::Preferences& defaults)
    : defaults_(defaults)
{
}

quint64 MMwebconfig::get(const QString& key) const
{
    // Settings are unsigned; a negative stored value (written by hand or by a
    // faulty writer) reads as 0 rather than as a huge number.
    const qlonglong v = defaults_.integerValue(key, 0);
    return v > 0 ? quint64(v) : 0;
}

void MMwebconfig::set(const QString& key, quint64 value)
{
    const auto max = quint64(std::numeric_limits<qlonglong>::max());
    defaults_.setValue(key, qlonglong(value > max ? max : value));
}

QString MMwebconfig::sec_ocr_ShortcutKey() const
{
    const QVariant v = defaults_.value(kOcrShortcutKey);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

void MMwebconfig::setSec_ocr_ShortcutKey(const QString& text)
{
    if (text.isNull())
        defaults_.remove(kOcrShortcutKey);
    else
        defaults_.setValue(kOcrShortcutKey, text);
}
