#include "ui/MMJsModel.h"

#include "core/KWLangManager.h"
#include "core/MMDeviceInfo.h"
#include "core/MMUserInfo.h"
#include "core/MMwebconfig.h"
#include "device/mmUtilities.h"
#include "platform/Hotkey.h"
#include "platform/Preferences.h"
#include "ui/ScriptMessageBridge.h"
#include "voice/CommandBookmarks.h"
#include "voice/UWHomeViewModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

const QString MMJsModel::kMouseSettings = QStringLiteral("mouseSettings");
const QString MMJsModel::kAiSettings = QStringLiteral("aiSettings");
const QString MMJsModel::kSelfAdaption = QStringLiteral("selfAdaption");
const QString MMJsModel::kRefreshInstructionData = QStringLiteral("refreshInstructionData");
const QString MMJsModel::kExecutionLocation = QStringLiteral("executionLocation");
const QString MMJsModel::kCheckLevel = QStringLiteral("checkLevel");
const QString MMJsModel::kSetSystemLanguage = QStringLiteral("setSystemLanguage");
const QString MMJsModel::kScreenshotTranslationKey = QStringLiteral("screenshotTranslationKey");
const QString MMJsModel::kLogExport = QStringLiteral("logExport");
const QString MMJsModel::kNoticeTitle = QStringLiteral("温馨提醒");
const QString MMJsModel::kNoticeText
    = QStringLiteral("开启后如果打字出现闪退，关闭此项即可恢复正常，然后重启一次鼠标和App。");
const QString MMJsModel::kNoticeConfirm = QStringLiteral("确认");
const QString MMJsModel::kNoticeCancel = QStringLiteral("取消");

namespace jsmodel {

// Largest value each kind of setting may take; anything above is refused.
constexpr quint64 kSwitch = 1;
constexpr quint64 kDpiLevels = 4;
constexpr quint64 kClickAction = 10; // the click functions of the keys, 0 none
constexpr quint64 kLongPress = 4; // 1 typing, 2 translation, 3 voice search, 4 chat
constexpr quint64 kLanguageIndex = 999;
constexpr quint64 kSearchEngines = 2;
constexpr quint64 kInterfaceLanguages = 4;

// Interface-language index of the page start-up object.
const QString kLang = QStringLiteral("lang");

// The six texts of a custom-command row.
const QStringList& commandKeys()
{
    static const QStringList keys { QStringLiteral("word"), QStringLiteral("todo"), QStringLiteral("name"),
        QStringLiteral("iconType"), QStringLiteral("type") };
    return keys;
}

const QString kFileTargetPrefix = QStringLiteral("file:///");

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString compact(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString decimal(quint64 value)
{
    return QString::number(value);
}

// "%@" of a text that may be absent.
QString described(const QString& text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

struct IntegerKey {
    QString key;
    quint64 maximum;
    std::function<void(quint64)> apply;
};

// The first key of the table that the body holds, with its checked value.
// Refused (nothing) when that key's value is of the wrong kind.
std::optional<std::pair<const IntegerKey*, quint64>> firstKey(
    const QJsonObject& body, const std::vector<IntegerKey>& keys, const char* message, bool* found)
{
    *found = false;
    for (const IntegerKey& entry : keys) {
        if (!body.contains(entry.key))
            continue;
        *found = true;
        const std::optional<quint64> value = MMJsModel::integerValue(body.value(entry.key), entry.maximum);
        if (!value) {
            qWarning("MMJsModel: \"%s\" refused: \"%s\" is not a whole number from 0 to %llu", message,
                qUtf8Printable(entry.key), static_cast<unsigned long long>(entry.maximum));
            return std::nullopt;
        }
        return std::make_pair(&entry, *value);
    }
    return std::nullopt;
}

} // namespace jsmodel

MMJsModel::Services MMJsModel::sharedServices()
{
    MMUserInfo& user = MMUserInfo::sharedMMUserInfo();
    return Services {
        user,
        KWLangManager::sharedManager(),
        UWHomeViewModel::sharedUWHomeViewModel(),
        platform::Preferences::standard(),
        [](quint64 level) { mmUtilities::shareInstance().setdpi(level); },
        [](bool on) { mmUtilities::shareInstance().setTanURLOpen(on); },
        {},
    };
}

MMJsModel::MMJsModel(Services services)
    : services_(std::move(services))
{
}

std::optional<quint64> MMJsModel::integerValue(const QJsonValue& value, quint64 maximum)
{
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (!std::isfinite(number) || number < 0 || number != std::floor(number)
            || number > static_cast<double>(maximum))
            return std::nullopt;
        return static_cast<quint64>(number);
    }
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString().trimmed();
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const quint64 number = text.toULongLong(&ok);
    if (!ok || number > maximum)
        return std::nullopt;
    return number;
}

std::optional<quint64> MMJsModel::systemLanguageIndex(const QJsonValue& body)
{
    return integerValue(body, jsmodel::kInterfaceLanguages);
}

QString MMJsModel::readMyDevModel() const
{
    switch (services_.user.deviceInfo().deviceModel()) {
    case 1:
        return QStringLiteral("KZ31");
    case 2:
        return QStringLiteral("KZ32");
    case 3:
        return QStringLiteral("KZ43");
    case 4:
        return QStringLiteral("KZ45");
    case 5:
        return QStringLiteral("KZ7");
    default:
        return QStringLiteral("");
    }
}

QString MMJsModel::readUserDefaultWebConfig1st() const
{
    using jsmodel::decimal;
    MMwebconfig& config = services_.user.webConfig();
    return jsmodel::compact(QJsonObject {
        { QStringLiteral("voice_key_short_click"), decimal(config.fir_voice_short()) },
        { QStringLiteral("voice_key_long_click"), decimal(config.fir_voice_long()) },
        { QStringLiteral("translation_key_short_click"), decimal(config.fir_trans_short()) },
        { QStringLiteral("translation_key_long_click"), decimal(config.fir_trans_long()) },
        { QStringLiteral("ai_assistant_short_click"), decimal(config.fir_ai_short()) },
        { QStringLiteral("ai_assistant_long_click"), decimal(config.fir_ai_long()) },
        { QStringLiteral("auxiliary_click"), decimal(config.fir_dpi()) },
        { QStringLiteral("wheel_button_long_click"), decimal(config.fir_downAddress()) },
        { QStringLiteral("product_model_name"),
            jsmodel::described(services_.user.deviceInfo().productModelString()) },
        { QStringLiteral("product_myDev_name"), readMyDevModel() },
        // Whether a mouse is linked now: the settings kept in the mouse wait for one.
        { QStringLiteral("mouse_connected"), services_.user.deviceInfo().DeviceConnectionMode() != 0 ? "1" : "0" },
    });
}

QString MMJsModel::readUserDefaultWebConfig2nd() const
{
    using jsmodel::decimal;
    MMwebconfig& config = services_.user.webConfig();
    const KWLangManager& lang = services_.languages;
    return jsmodel::compact(QJsonObject {
        { QStringLiteral("country"), jsmodel::described(services_.user.ipCountry()) },
        { QStringLiteral("search_engines_click"), decimal(config.sec_searchEngine()) },
        // Stored in its readable form; the page shows this desktop's words.
        { QStringLiteral("screenshot_translation_key"), platform::Hotkey::shownText(config.sec_ocr_ShortcutKey()) },
        { QStringLiteral("screenshot_translation_translation_language_click"), decimal(lang.indexOcrTo()) },
        { QStringLiteral("screenshot_translation_identify_language_click"), decimal(lang.indexOcrFrom()) },
        { QStringLiteral("scribe_translation_check_click"), decimal(config.sec_huaciOpen()) },
        { QStringLiteral("scribe_translation_translation_language_click"), decimal(lang.indexHuaciTo()) },
        { QStringLiteral("scribe_translation_identify_language_click"), decimal(lang.indexHuaciFrom()) },
        { QStringLiteral("phonetic_translation_translation_language_click"), decimal(lang.indexTransTo()) },
        { QStringLiteral("phonetic_translation_identify_language_id"), lang.TransFromCode() },
        { QStringLiteral("speech_recognition_identify_language_id"), lang.TypingFromCode() },
        { QStringLiteral("dynamic_typing_click"), decimal(config.sec_dynamic_typing()) },
        { QStringLiteral("speech_recognition_punctuation_click"), decimal(config.sec_punctution()) },
    });
}

QString MMJsModel::readUserDefaultWebConfig5ve() const
{
    using jsmodel::decimal;
    MMwebconfig& config = services_.user.webConfig();
    const MMDeviceInfo& device = services_.user.deviceInfo();
    return jsmodel::compact(QJsonObject {
        { QStringLiteral("backend_operation_mode_click"), decimal(config.backgroundMode()) },
        { QStringLiteral("system_auto_start_click"), decimal(config.Appstartup()) },
        { QStringLiteral("SystemLanguage"), decimal(services_.languages.indexOfUI()) },
        { QStringLiteral("AppVersion"), jsmodel::described(MMUserInfo::myVersion()) },
        { QStringLiteral("deviceSN"), jsmodel::described(device.sn()) },
        { QStringLiteral("firmwareVersion"), jsmodel::described(device.firmwareVersion()) },
    });
}

QString MMJsModel::pageData(quint64 index) const
{
    switch (index) {
    case 0:
        return readUserDefaultWebConfig1st();
    case 1:
        return readUserDefaultWebConfig2nd();
    case 4:
        return readUserDefaultWebConfig5ve();
    default:
        return QStringLiteral("");
    }
}

QString MMJsModel::oc_sendMegToH5WithSelectedMenuIndex(quint64 index) const
{
    return ScriptMessageBridge::functionCall(QStringLiteral("goToPage"), { QString::number(index), pageData(index) });
}

QString MMJsModel::reloadWithIndex(quint64 index) const
{
    return ScriptMessageBridge::functionCall(QStringLiteral("indexLoading"), { pageData(index) });
}

QString MMJsModel::oc_sendLocalAppList() const
{
    return oc_sendLocalAppList(nullptr);
}

QString MMJsModel::oc_sendLocalAppList(qsizetype* count) const
{
    QJsonArray list;
    for (const MMAppdataItem& item : services_.commands.getLocalMyAppsCmdList())
        list.append(QJsonObject::fromVariantMap(item.keyValues()));
    if (count)
        *count = list.size();
    return ScriptMessageBridge::functionCall(QStringLiteral("indexLoading"), { jsmodel::compact(list) });
}

QString MMJsModel::oc_sendCustomCmdList() const
{
    QJsonArray list;
    for (const MMCustomCmdItem& item : services_.commands.getCustomCmdList())
        list.append(QJsonObject::fromVariantMap(item.keyValues()));
    if (list.isEmpty())
        return QStringLiteral("");
    return ScriptMessageBridge::functionCall(QStringLiteral("indexLoading"), { jsmodel::compact(list) });
}

QString MMJsModel::loadSomeObjFirst() const
{
    const QJsonObject object { { jsmodel::kLang, static_cast<qint64>(services_.languages.indexOfUI()) } };
    return ScriptMessageBridge::functionCall(QStringLiteral("init"), { jsmodel::compact(object) });
}

bool MMJsModel::saveWebConfig1stWebWithMsg(const QJsonValue& body)
{
    if (!body.isObject()) {
        qWarning("MMJsModel: \"%s\" refused: the body is not an object", qUtf8Printable(kMouseSettings));
        return false;
    }
    MMwebconfig& config = services_.user.webConfig();
    using jsmodel::IntegerKey;
    const std::vector<IntegerKey> keys {
        { QStringLiteral("auxiliary_click"), jsmodel::kDpiLevels,
            [&](quint64 v) {
                config.setFir_dpi(v);
                if (services_.setdpi)
                    services_.setdpi(v);
            } },
        { QStringLiteral("voice_key_short_click"), jsmodel::kClickAction,
            [&](quint64 v) { config.setFir_voice_short(v); } },
        { QStringLiteral("voice_key_long_click"), jsmodel::kLongPress,
            [&](quint64 v) { config.setFir_voice_long(v); } },
        { QStringLiteral("translation_key_short_click"), jsmodel::kClickAction,
            [&](quint64 v) { config.setFir_trans_short(v); } },
        { QStringLiteral("translation_key_long_click"), jsmodel::kLongPress,
            [&](quint64 v) { config.setFir_trans_long(v); } },
        { QStringLiteral("ai_assistant_short_click"), jsmodel::kClickAction,
            [&](quint64 v) { config.setFir_ai_short(v); } },
        { QStringLiteral("ai_assistant_long_click"), jsmodel::kLongPress,
            [&](quint64 v) { config.setFir_ai_long(v); } },
        { QStringLiteral("wheel_button_long_click"), jsmodel::kSwitch,
            [&](quint64 v) {
                config.setFir_downAddress(v);
                if (services_.setTanURLOpen)
                    services_.setTanURLOpen(v != 0);
            } },
    };
    bool found = false;
    const auto chosen = jsmodel::firstKey(body.toObject(), keys, "mouseSettings", &found);
    if (!chosen)
        return false;
    chosen->first->apply(chosen->second);
    return true;
}

bool MMJsModel::saveWebConfig2ndWebWithMsg(const QJsonValue& body)
{
    if (!body.isObject()) {
        qWarning("MMJsModel: \"%s\" refused: the body is not an object", qUtf8Printable(kAiSettings));
        return false;
    }
    const QJsonObject object = body.toObject();
    MMwebconfig& config = services_.user.webConfig();
    KWLangManager& lang = services_.languages;

    // The name and code texts travel beside the main key; check them first
    // so that a bad one stops the whole message.
    using TextSetter = void (KWLangManager::*)(const QString&);
    const std::vector<std::pair<QString, TextSetter>> texts {
        { QStringLiteral("speech_recognition_identify_language_name"), &KWLangManager::setTypingFromName },
        { QStringLiteral("speech_recognition_identify_language_id"), &KWLangManager::setTypingFromCode },
        { QStringLiteral("phonetic_translation_identify_language_name"), &KWLangManager::setTransFromName },
        { QStringLiteral("phonetic_translation_identify_language_id"), &KWLangManager::setTransFromCode },
    };
    for (const auto& [key, setter] : texts) {
        if (object.contains(key)
            && (!object.value(key).isString() || object.value(key).toString().size() > 256)) {
            qWarning("MMJsModel: \"%s\" refused: \"%s\" is not a short text", qUtf8Printable(kAiSettings),
                qUtf8Printable(key));
            return false;
        }
    }

    using jsmodel::IntegerKey;
    const std::vector<IntegerKey> keys {
        { QStringLiteral("backend_operation_mode_click"), jsmodel::kSwitch,
            [&](quint64 v) { config.setBackgroundMode(v); } },
        { QStringLiteral("system_auto_start_click"), jsmodel::kSwitch,
            [&](quint64 v) {
                config.setAppstartup(v);
                if (startupBlock)
                    startupBlock(v != 0);
            } },
        { QStringLiteral("speech_recognition_punctuation_click"), jsmodel::kSwitch,
            [&](quint64 v) { config.setSec_punctution(v); } },
        { QStringLiteral("dynamic_typing_click"), jsmodel::kSwitch,
            [&](quint64 v) {
                config.setSec_dynamic_typing(v);
                if (v != 0 && services_.showDynamicTypingNotice)
                    services_.showDynamicTypingNotice();
            } },
        { QStringLiteral("speech_recognition_identify_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexTypingFrom(v); } },
        { QStringLiteral("phonetic_translation_identify_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexTransFrom(v); } },
        { QStringLiteral("phonetic_translation_translation_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexTransTo(v); } },
        { QStringLiteral("scribe_translation_check_click"), jsmodel::kSwitch,
            [&](quint64 v) {
                config.setSec_huaciOpen(v);
                if (huaci)
                    huaci(v != 0);
            } },
        { QStringLiteral("scribe_translation_identify_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexHuaciFrom(v); } },
        { QStringLiteral("scribe_translation_translation_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexHuaciTo(v); } },
        { QStringLiteral("screenshot_translation_identify_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexOcrFrom(v); } },
        { QStringLiteral("screenshot_translation_translation_language_click"), jsmodel::kLanguageIndex,
            [&](quint64 v) { lang.setIndexOcrTo(v); } },
        { QStringLiteral("search_engines_click"), jsmodel::kSearchEngines,
            [&](quint64 v) { config.setSec_searchEngine(v); } },
    };
    bool found = false;
    const auto chosen = jsmodel::firstKey(object, keys, "aiSettings", &found);
    if (found && !chosen)
        return false;
    bool applied = false;
    if (chosen) {
        chosen->first->apply(chosen->second);
        applied = true;
    }
    for (const auto& [key, setter] : texts) {
        if (object.contains(key)) {
            (lang.*setter)(object.value(key).toString());
            applied = true;
        }
    }
    return applied;
}

bool MMJsModel::saveCustomInstructionList(const QJsonValue& body)
{
    QJsonArray array;
    if (body.isArray()) {
        array = body.toArray();
    } else if (body.isString()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body.toString().toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isArray()) {
            qWarning("MMJsModel: \"%s\" refused: the text is not a JSON array",
                qUtf8Printable(kRefreshInstructionData));
            return false;
        }
        array = document.array();
    } else {
        qWarning("MMJsModel: \"%s\" refused: the body is neither a list nor its text",
            qUtf8Printable(kRefreshInstructionData));
        return false;
    }

    QList<MMCustomCmdItem> items;
    for (const QJsonValue& element : std::as_const(array)) {
        if (!element.isObject()) {
            qWarning("MMJsModel: \"%s\" refused: an element is not an object",
                qUtf8Printable(kRefreshInstructionData));
            return false;
        }
        const QJsonObject row = element.toObject();
        QVariantMap dict;
        for (const QString& key : jsmodel::commandKeys()) {
            const QJsonValue value = row.value(key);
            if (value.isUndefined() || value.isNull())
                continue;
            if (!value.isString()) {
                qWarning("MMJsModel: \"%s\" refused: \"%s\" of a command is not a text",
                    qUtf8Printable(kRefreshInstructionData), qUtf8Printable(key));
                return false;
            }
            dict.insert(key, value.toString());
        }
        items.append(MMCustomCmdItem::initWithDict(dict));
    }

    QString error;
    if (!services_.commands.replaceCustomCmdList(items, &error)) {
        qWarning("MMJsModel: the custom commands could not be stored (%s); they stay as they were",
            qUtf8Printable(error));
        return false;
    }
    for (const MMCustomCmdItem& item : std::as_const(items)) {
        if (item.todo().startsWith(jsmodel::kFileTargetPrefix))
            CommandBookmarks::storeBookmark(services_.defaults, item.todo());
    }
    return true;
}
