#include "core/UWLanguageManager.h"

#include "core/LGNLocalizedString.h"
#include "core/UWLanguageTables.h"
#include "platform/Preferences.h"

#include <QLocale>

const QString UWLanguageManager::kSearchEngineKey = QStringLiteral("UW_Search_Engine_Key");
const QString UWLanguageManager::kWordInputKey = QStringLiteral("UW_Word_Input_Key");
const QString UWLanguageManager::kCopyCmdIndexKey = QStringLiteral("copyCmdIndexKey");
const QString UWLanguageManager::kMKeyKey = QStringLiteral("UW_MKey_Fuction_Key");
const QString UWLanguageManager::kUiLanguageKey = QStringLiteral("uiLanguageIndexKey");
const QString UWLanguageManager::kAudioLanguageKey = QStringLiteral("audioLanguageIndexKey");
const QString UWLanguageManager::kAudioLanguageForTranslateKey = QStringLiteral("audioLanguageIndexKeyForTranslate");
const QString UWLanguageManager::kToLanguageKey = QStringLiteral("toLanguageIndexKey");

namespace old_language_manager {

// What an index past a list answers in place of a service code; it goes to
// the service, never to a person.
const QString kPastEndMicrosoft = QStringLiteral("UWASRLanguageTypeMicrosoft 下标超出"); // not shown: a code
const QString kPastEndTransferWebapi = QStringLiteral("UWASRLanguageTypeTransferWebapi 下标超出"); // not shown: a code
const QString kPastEndAiui = QStringLiteral("UWASRLanguageTypeAiui 下标超出"); // not shown: a code
const QString kPastEndIFly = QStringLiteral("UWASRLanguageTypeiFly 下标超出"); // not shown: a code
const QString kPastEndAiuiMain = QStringLiteral("UWASRLanguageTypeAiuiMain 下标超出"); // not shown: a code

QStringList localized(const QStringList& keys)
{
    QStringList texts;
    for (const QString& key : keys)
        texts << LGNLocalizedString::lgnAppLocalizedString(key);
    return texts;
}

QString rowOr(const QStringList& list, quint64 position, const QString& pastEnd)
{
    return position < static_cast<quint64>(list.size()) ? list[static_cast<qsizetype>(position)] : pastEnd;
}

} // namespace old_language_manager

UWLanguageManager& UWLanguageManager::sharedUWLanguageManager()
{
    static UWLanguageManager* shared
        = new UWLanguageManager(platform::Preferences::standard(), QLocale::system().uiLanguages().value(0));
    return *shared;
}

UWLanguageManager::UWLanguageManager(platform::Preferences& defaults, const QString& preferredLanguage)
    : defaults_(defaults)
{
    if (defaults_.value(kSearchEngineKey).isValid())
        searchEngineTag_ = load(kSearchEngineKey, 0);
    else
        setSearchEngineTag(preferredLanguage == QLatin1String("zh-Hans-CN") ? 0 : 1);
    wordInputTag_ = load(kWordInputKey, 0);
    copyCmdIndex_ = load(kCopyCmdIndexKey, 0);
    mKeyIndex_ = load(kMKeyKey, 0);
}

quint64 UWLanguageManager::load(const QString& key, quint64 absent) const
{
    const QVariant value = defaults_.value(key);
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return ok && number >= 0 ? static_cast<quint64>(number) : absent;
}

void UWLanguageManager::store(quint64& field, quint64 value, const QString& key)
{
    if (field == value)
        return;
    field = value;
    defaults_.setValue(key, QVariant::fromValue<qlonglong>(static_cast<qlonglong>(value)));
}

void UWLanguageManager::setAsrLanguageType(qint64 type)
{
    asrLanguageType_ = type;
    const quint64 dictationDefault = type == 0 ? 3 : 0;
    uiLanguageIndex_ = load(kUiLanguageKey, 0);
    audioLanguageIndex_ = load(kAudioLanguageKey, dictationDefault);
    audioLanguageIndexForTranslate_ = load(kAudioLanguageForTranslateKey, dictationDefault);
    toLanguageIndex_ = load(kToLanguageKey, 1);
}

void UWLanguageManager::setSearchEngineTag(quint64 value)
{
    // The first decision is stored even when it equals the field's start value.
    if (!defaults_.value(kSearchEngineKey).isValid())
        defaults_.setValue(kSearchEngineKey, QVariant::fromValue<qlonglong>(static_cast<qlonglong>(value)));
    store(searchEngineTag_, value, kSearchEngineKey);
}

void UWLanguageManager::setCopyCmdIndex(quint64 value)
{
    store(copyCmdIndex_, value, kCopyCmdIndexKey);
}

void UWLanguageManager::setMKeyIndex(quint64 value)
{
    store(mKeyIndex_, value, kMKeyKey);
}

void UWLanguageManager::setUiLanguageIndex(quint64 value)
{
    store(uiLanguageIndex_, value, kUiLanguageKey);
}

void UWLanguageManager::setAudioLanguageIndex(quint64 value)
{
    store(audioLanguageIndex_, value, kAudioLanguageKey);
}

void UWLanguageManager::setAudioLanguageIndexForTranslate(quint64 value)
{
    store(audioLanguageIndexForTranslate_, value, kAudioLanguageForTranslateKey);
}

void UWLanguageManager::setToLanguageIndex(quint64 value)
{
    store(toLanguageIndex_, value, kToLanguageKey);
}

QStringList UWLanguageManager::readUiLanguageNameList()
{
    if (uiTitleLanguageArray_.isEmpty())
        uiTitleLanguageArray_ = old_language_manager::localized(
            { QStringLiteral("简体中文"), QStringLiteral("繁体中文"), QStringLiteral("英语") });
    return uiTitleLanguageArray_;
}

QStringList UWLanguageManager::readWordInputNameList()
{
    return readUiLanguageNameList();
}

QStringList UWLanguageManager::readSearchEngineNameList()
{
    if (searchEngineArray_.isEmpty())
        searchEngineArray_ = old_language_manager::localized({ QStringLiteral("百度"), QStringLiteral("谷歌") });
    return searchEngineArray_;
}

QStringList UWLanguageManager::readMKeyNameList()
{
    if (mKeyArray_.isEmpty())
        mKeyArray_ = old_language_manager::localized({ QStringLiteral("回车"), QStringLiteral("回退"),
            QStringLiteral("切换DPI"), QStringLiteral("语音翻译"), QStringLiteral("语音打字"), QStringLiteral("一键百度") });
    return mKeyArray_;
}

QStringList UWLanguageManager::readDeviceTypeNameList()
{
    if (deviceTypeArray_.isEmpty())
        deviceTypeArray_ = old_language_manager::localized({ QStringLiteral("智能语音鼠标") });
    return deviceTypeArray_;
}

QStringList UWLanguageManager::readToLanguageNameList()
{
    if (toLanguageArray_.isEmpty())
        toLanguageArray_ = old_language_manager::localized(UWLanguageTables::baiduTranslationNames());
    return toLanguageArray_;
}

QStringList UWLanguageManager::readAudioLanguageNameList() const
{
    switch (asrLanguageType_) {
    case 3:
    case 4:
    case 5:
        return old_language_manager::localized(UWLanguageTables::iflyDictationNames());
    case 1:
        return old_language_manager::localized(UWLanguageTables::baiduDictationNames());
    default:
        return old_language_manager::localized(UWLanguageTables::microsoftAsrNames());
    }
}

void UWLanguageManager::shouldRefreshData()
{
    uiTitleLanguageArray_.clear();
    searchEngineArray_.clear();
    toLanguageArray_.clear();
    readUiLanguageNameList();
    readSearchEngineNameList();
    readToLanguageNameList();
}

QString UWLanguageManager::readAudioLanguageCode() const
{
    using namespace old_language_manager;
    switch (asrLanguageType_) {
    case 0:
        return rowOr(UWLanguageTables::microsoftAsrCodes(), audioLanguageIndex_, kPastEndMicrosoft);
    case 1:
    case 3:
        return rowOr(UWLanguageTables::iflyCodes(), audioLanguageIndex_, kPastEndTransferWebapi);
    case 4:
    case 5:
        return rowOr(UWLanguageTables::aiuiCodes(), audioLanguageIndex_, kPastEndAiui);
    default:
        return QStringLiteral("");
    }
}

QString UWLanguageManager::readAudioLanguageCodeForMkeyTranslate() const
{
    using namespace old_language_manager;
    switch (asrLanguageType_) {
    case 0:
        return rowOr(UWLanguageTables::microsoftAsrCodes(), audioLanguageIndex_, kPastEndMicrosoft);
    case 1:
        return rowOr(UWLanguageTables::iflyCodes(), audioLanguageIndex_, kPastEndIFly);
    case 3:
        return rowOr(UWLanguageTables::iflyCodes(), audioLanguageIndexForTranslate_, kPastEndTransferWebapi);
    case 4:
        return rowOr(UWLanguageTables::aiuiCodes(), audioLanguageIndexForTranslate_, kPastEndAiuiMain);
    default:
        return QStringLiteral("");
    }
}

QString UWLanguageManager::dictationNameAt(quint64 position) const
{
    using namespace old_language_manager;
    switch (asrLanguageType_) {
    case 0:
    case 1:
    case 3:
    case 4:
    case 5:
        return rowOr(readAudioLanguageNameList(), position, asrLanguageType_ == 0 ? kPastEndMicrosoft : kPastEndAiui);
    default:
        return QStringLiteral("");
    }
}

QString UWLanguageManager::readAudioLanguageName() const
{
    return dictationNameAt(audioLanguageIndex_);
}

QString UWLanguageManager::readAudioLanguageNameForMkeyTranslate() const
{
    return dictationNameAt(audioLanguageIndexForTranslate_);
}

QString UWLanguageManager::readToLanguageCode() const
{
    return old_language_manager::rowOr(UWLanguageTables::baiduTranslationCodes(), toLanguageIndex_, QStringLiteral("zh-Hans"));
}

QString UWLanguageManager::readToLanguageName() const
{
    const QStringList& names = UWLanguageTables::baiduTranslationNames();
    if (toLanguageIndex_ >= static_cast<quint64>(names.size()))
        return old_language_manager::kPastEndAiui;
    return LGNLocalizedString::lgnAppLocalizedString(names[static_cast<qsizetype>(toLanguageIndex_)]);
}
