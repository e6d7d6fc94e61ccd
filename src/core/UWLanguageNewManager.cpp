#include "core/UWLanguageNewManager.h"

#include "core/LGNLocalizedString.h"
#include "platform/Preferences.h"

#include <optional>

const QString UWLanguageNewManager::kAudioKey = QStringLiteral("new_audioLanguageIndexKey");
const QString UWLanguageNewManager::kToKey = QStringLiteral("new_toLanguageIndexKey");
const QString UWLanguageNewManager::kDefaultAudio = QStringLiteral("9/0");
const QString UWLanguageNewManager::kDefaultTo = QStringLiteral("24/0");

namespace new_language_manager {

const QString kSimplifiedChinese = QStringLiteral("简体中文");
const QString kEnglish = QStringLiteral("英语");

// The row a position names, when it names one inside the table.
std::optional<QString> rowAt(const UWLanguageTables::Sections& table, const QString& position)
{
    const QStringList parts = position.split(u'/');
    if (parts.size() < 2)
        return std::nullopt;
    bool sectionOk = false;
    bool rowOk = false;
    const int section = parts[0].toInt(&sectionOk);
    const int row = parts[1].toInt(&rowOk);
    if (!sectionOk || !rowOk || section < 0 || section >= table.size() || row < 0 || row >= table[section].size())
        return std::nullopt;
    return table[section][row];
}

UWLanguageTables::Sections localized(const UWLanguageTables::Sections& names)
{
    UWLanguageTables::Sections result;
    for (const QStringList& section : names) {
        QStringList rows;
        for (const QString& name : section)
            rows << LGNLocalizedString::lgnAppLocalizedString(name);
        result << rows;
    }
    return result;
}

} // namespace new_language_manager

UWLanguageNewManager& UWLanguageNewManager::sharedUWLanguageNewManager()
{
    static UWLanguageNewManager* shared = new UWLanguageNewManager(platform::Preferences::standard());
    return *shared;
}

UWLanguageNewManager::UWLanguageNewManager(platform::Preferences& defaults)
    : defaults_(defaults)
{
    const QVariant audio = defaults_.value(kAudioKey);
    const QVariant to = defaults_.value(kToKey);
    audioLanguageIndex_ = audio.typeId() == QMetaType::QString ? audio.toString() : kDefaultAudio;
    toLanguageIndex_ = to.typeId() == QMetaType::QString ? to.toString() : kDefaultTo;
}

void UWLanguageNewManager::setAudioLanguageIndex(const QString& position)
{
    if (position == audioLanguageIndex_)
        return;
    audioLanguageIndex_ = position;
    defaults_.setValue(kAudioKey, position);
}

void UWLanguageNewManager::setToLanguageIndex(const QString& position)
{
    if (position == toLanguageIndex_)
        return;
    toLanguageIndex_ = position;
    defaults_.setValue(kToKey, position);
}

QString UWLanguageNewManager::readAudioLanguageCode() const
{
    return new_language_manager::rowAt(UWLanguageTables::sectionedAsrCodes(), audioLanguageIndex_)
        .value_or(QStringLiteral("zh-CN"));
}

QString UWLanguageNewManager::readAudioLanguageName() const
{
    return LGNLocalizedString::lgnAppLocalizedString(
        new_language_manager::rowAt(UWLanguageTables::sectionedAsrNames(), audioLanguageIndex_)
            .value_or(new_language_manager::kSimplifiedChinese));
}

QString UWLanguageNewManager::readToLanguageCode() const
{
    return new_language_manager::rowAt(UWLanguageTables::sectionedTranslationCodes(), toLanguageIndex_)
        .value_or(QStringLiteral("en"));
}

QString UWLanguageNewManager::readToLanguageName() const
{
    return LGNLocalizedString::lgnAppLocalizedString(
        new_language_manager::rowAt(UWLanguageTables::sectionedTranslationNames(), toLanguageIndex_)
            .value_or(new_language_manager::kEnglish));
}

UWLanguageTables::Sections UWLanguageNewManager::readAudioLanguageNameList() const
{
    return new_language_manager::localized(UWLanguageTables::sectionedAsrNames());
}

UWLanguageTables::Sections UWLanguageNewManager::readToLanguageNameList()
{
    if (toLanguageArray_.isEmpty())
        toLanguageArray_ = new_language_manager::localized(UWLanguageTables::sectionedTranslationNames());
    return toLanguageArray_;
}

void UWLanguageNewManager::shouldRefreshData()
{
    toLanguageArray_ = new_language_manager::localized(UWLanguageTables::sectionedTranslationNames());
}
