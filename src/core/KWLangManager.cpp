#include "core/KWLangManager.h"

#include "core/MMUserInfo.h"
#include "platform/Preferences.h"
#include "platform/PropertyListCodec.h"
#include "platform/Resources.h"

#include <QLocale>
#include <QVariantMap>

#include <limits>

const QString KWLangManager::kIndexOfUI = QStringLiteral("k_indexOfUIKey");
const QString KWLangManager::kSearchEngineIndex = QStringLiteral("k_indexSearchEngineKey");
const QString KWLangManager::kIndexTypingFrom = QStringLiteral("k_indexTypingFromKey");
const QString KWLangManager::kTypingFromName = QStringLiteral("k_TypingFromNameKey");
const QString KWLangManager::kTypingFromCode = QStringLiteral("k_TypingFromCodeKey");
const QString KWLangManager::kTransFromName = QStringLiteral("k_TransFromNameKey");
const QString KWLangManager::kTransFromCode = QStringLiteral("k_TransFromCodeKey");
const QString KWLangManager::kIndexTransFrom = QStringLiteral("k_indexTransFromKey");
const QString KWLangManager::kIndexTransTo = QStringLiteral("k_indexTransToKey");
const QString KWLangManager::kIndexOcrFrom = QStringLiteral("k_indexOcrFromKey");
const QString KWLangManager::kIndexOcrTo = QStringLiteral("k_indexOcrToKey");
const QString KWLangManager::kIndexHuaciFrom = QStringLiteral("k_indexHuaciFromKey");
const QString KWLangManager::kIndexHuaciTo = QStringLiteral("k_indexHuaciToKey");

namespace {
const QString kAsrMainland = QStringLiteral("ASROfXunfei_cn");
const QString kAsrOverseas = QStringLiteral("ASROfXunfei_haiwai");
const QString kOcrMainland = QStringLiteral("OcrLanguageXunfei");
const QString kOcrOverseas = QStringLiteral("OcrLanguageMicrosoft");
const QString kTransMainland = QStringLiteral("TransOfXunfeiAll");
const QString kTransOverseas = QStringLiteral("TransOfWeiruanFull");
const QString kTtsVoices = QStringLiteral("ttsLangsApple");
const QString kBaiduOcr = QStringLiteral("baiduOrcLangList");
} // namespace

KWLangManager& KWLangManager::sharedManager()
{
    static KWLangManager* shared = new KWLangManager(platform::Preferences::standard(), QLocale::system().uiLanguages(),
                                                     [] { return MMUserInfo::sharedMMUserInfo().ipCountry(); });
    return *shared;
}

KWLangManager::KWLangManager(platform::Preferences& defaults, QStringList preferredLanguages, RegionProvider region)
    : defaults_(defaults)
    , region_(std::move(region))
{
    getDefaultValue(preferredLanguages);
}

std::optional<quint64> KWLangManager::storedIndex(const QString& key) const
{
    const QVariant v = defaults_.value(key);
    if (!v.isValid())
        return std::nullopt;
    // Indexes are unsigned; anything else stored there counts as 0.
    const qlonglong i = defaults_.integerValue(key, 0);
    return i > 0 ? quint64(i) : 0;
}

QString KWLangManager::storedString(const QString& key) const
{
    const QVariant v = defaults_.value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QStringLiteral("");
}

void KWLangManager::getDefaultValue(const QStringList& preferredLanguages)
{
    const QString first = preferredLanguages.value(0);
    const bool chinese = first.startsWith(QLatin1String("zh"));

    if (auto v = storedIndex(kIndexOfUI)) {
        indexOfUI_ = *v;
    } else {
        // Korean is only ever chosen by the user.
        quint64 ui = 1;
        if (chinese)
            ui = 0;
        else if (first.startsWith(QLatin1String("id")))
            ui = 2;
        else if (first.startsWith(QLatin1String("vi")))
            ui = 3;
        setIndexOfUI(ui);
    }

    if (auto v = storedIndex(kIndexTypingFrom))
        indexTypingFrom_ = *v;
    else
        setIndexTypingFrom(chinese ? 1 : 2);

    typingFromName_ = storedString(kTypingFromName);
    typingFromCode_ = storedString(kTypingFromCode);

    if (auto v = storedIndex(kIndexTransFrom))
        indexTransFrom_ = *v;
    else
        setIndexTransFrom(indexTypingFrom_);

    transFromName_ = storedString(kTransFromName);
    transFromCode_ = storedString(kTransFromCode);

    const std::pair<quint64*, const QString*> rest[] = {
        {&indexTransTo_, &kIndexTransTo},   {&indexOcrFrom_, &kIndexOcrFrom},   {&indexOcrTo_, &kIndexOcrTo},
        {&indexHuaciFrom_, &kIndexHuaciFrom}, {&indexHuaciTo_, &kIndexHuaciTo}, {&searchEngineIndex_, &kSearchEngineIndex},
    };
    for (const auto& [field, key] : rest)
        *field = storedIndex(*key).value_or(0);
}

void KWLangManager::saveIndex(quint64& field, quint64 value, const QString& key)
{
    field = value;
    const auto max = quint64(std::numeric_limits<qlonglong>::max());
    defaults_.setValue(key, qlonglong(value > max ? max : value));
}

void KWLangManager::saveString(QString& field, const QString& value, const QString& key)
{
    field = value;
    defaults_.setValue(key, value.isNull() ? QStringLiteral("") : value);
}

QVariant KWLangManager::getWithKey(const QString& key) const
{
    return defaults_.value(key);
}

std::optional<LanguageList> KWLangManager::loadList(const QString& fileName)
{
    const auto bytes = platform::Resources::read(QStringLiteral("languages/%1.plist").arg(fileName));
    if (!bytes)
        return std::nullopt;
    const auto parsed = platform::PropertyListCodec::fromXml(*bytes);
    if (!parsed || parsed->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return parsed->toList();
}

bool KWLangManager::isMainland() const
{
    return region_ && region_() == MMUserInfo::kMainlandRegion;
}

std::optional<LanguageList> KWLangManager::getXunfeiAsrLanguageArray() const
{
    return loadList(isMainland() ? kAsrMainland : kAsrOverseas);
}
std::optional<LanguageList> KWLangManager::getXunfeiOcrLanguageArray() const { return loadList(kOcrMainland); }
std::optional<LanguageList> KWLangManager::getWeiruanOcrLanguageArray() const { return loadList(kOcrOverseas); }
std::optional<LanguageList> KWLangManager::getBaiduOcrLanguageArray() const { return loadList(kBaiduOcr); }
std::optional<LanguageList> KWLangManager::getIfyMachineTransLanguageArray() const { return loadList(kTransMainland); }
std::optional<LanguageList> KWLangManager::getMicrosoftTransLanguageArray() const { return loadList(kTransOverseas); }
std::optional<LanguageList> KWLangManager::getAppleTTSLanguageArray() const { return loadList(kTtsVoices); }

std::optional<LanguageList> KWLangManager::getTypingFromLangeArray() const
{
    return loadList(isMainland() ? kAsrMainland : kAsrOverseas);
}
std::optional<LanguageList> KWLangManager::getOcrLangeArray() const
{
    return loadList(isMainland() ? kOcrMainland : kOcrOverseas);
}
std::optional<LanguageList> KWLangManager::getTransLangeArray() const
{
    return loadList(isMainland() ? kTransMainland : kTransOverseas);
}
std::optional<LanguageList> KWLangManager::getHuaciLangeArray() const { return loadList(kTransMainland); }
std::optional<LanguageList> KWLangManager::getTTSLangeArray() const { return loadList(kTtsVoices); }

QString KWLangManager::entryField(const std::optional<LanguageList>& list, quint64 index, const QString& field)
{
    if (!list || list->isEmpty())
        return {};
    const quint64 size = quint64(list->size());
    const QVariant entry = list->at(qsizetype(index < size ? index : 0));
    const QVariant value = entry.toMap().value(field);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QString KWLangManager::getLanguageNameWithLanguageList(const std::optional<LanguageList>& list, quint64 index)
{
    return entryField(list, index, QStringLiteral("name"));
}

QString KWLangManager::getLanguageCodeWithLanguageList(const std::optional<LanguageList>& list, quint64 index)
{
    return entryField(list, index, QStringLiteral("value"));
}

QStringList KWLangManager::getAllNamesWithLanguageList(const std::optional<LanguageList>& list)
{
    QStringList names;
    if (!list)
        return names;
    for (const QVariant& entry : *list)
        names << entry.toMap().value(QStringLiteral("name")).toString();
    return names;
}
