#include "core/LGNLocalizedString.h"
#include "core/UWLanguageItem.h"
#include "core/UWLanguageManager.h"
#include "core/UWLanguageNewManager.h"
#include "core/UWLanguageTables.h"
#include "platform/Preferences.h"

#include <QHash>
#include <QTemporaryDir>

#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace older_language_test {

QString tr(const char* key)
{
    return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key));
}

class OlderLanguageManagersTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
};

TEST(UWLanguageTablesTest, TablesHaveTheirShapes)
{
    EXPECT_EQ(UWLanguageTables::iflyCodes().size(), 8);
    EXPECT_EQ(UWLanguageTables::aiuiCodes().size(), 8);
    EXPECT_EQ(UWLanguageTables::baiduDictationCodes().size(), 4);
    EXPECT_EQ(UWLanguageTables::microsoftAsrCodes().size(), 30);
    EXPECT_EQ(UWLanguageTables::microsoftAsrNames().size(), 30);
    EXPECT_EQ(UWLanguageTables::microsoftTranslationCodes().size(), 64);
    EXPECT_EQ(UWLanguageTables::baiduTranslationCodes().size(), 211);
    EXPECT_EQ(UWLanguageTables::baiduTranslationNames().size(), 211);
    EXPECT_EQ(UWLanguageTables::baiduTranslationNames().first(), QStringLiteral("中文（简体）"));
    EXPECT_EQ(UWLanguageTables::baiduTranslationNames().last(), QStringLiteral("中古法语"));
    EXPECT_EQ(UWLanguageTables::baiduTranslationCodes().count(QString()), 7);
    const std::pair<const UWLanguageTables::Sections*, const UWLanguageTables::Sections*> pairs[] = {
        { &UWLanguageTables::sectionedAsrCodes(), &UWLanguageTables::sectionedAsrNames() },
        { &UWLanguageTables::sectionedTranslationCodes(), &UWLanguageTables::sectionedTranslationNames() },
    };
    int total[2] = { 0, 0 };
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(pairs[t].first->size(), 26);
        ASSERT_EQ(pairs[t].second->size(), 26);
        for (int s = 0; s < 26; ++s) {
            EXPECT_EQ((*pairs[t].first)[s].size(), (*pairs[t].second)[s].size()) << s;
            total[t] += static_cast<int>((*pairs[t].first)[s].size());
        }
    }
    EXPECT_EQ(total[0], 30);
    EXPECT_EQ(total[1], 64);
    EXPECT_EQ(UWLanguageTables::sectionedAsrNames()[0][0], QStringLiteral("阿拉伯语(埃及)"));
    EXPECT_EQ(UWLanguageTables::sectionedAsrNames()[9][0], QStringLiteral("简体中文"));
    const UWLanguageItem item(QStringLiteral("英语"), QStringLiteral("en-US"), QStringLiteral("en"), QStringLiteral("Y"), true);
    EXPECT_EQ(item.microTransCode, QStringLiteral("en"));
    EXPECT_TRUE(item.isChoose);
}

// Every language name the tables hold is shown through the interface-string
// tables: each has its own text in every interface language, and no two names
// of one list read the same, so the user can tell the entries apart.
TEST(UWLanguageTablesTest, EveryNameHasItsTextInEveryLanguage)
{
    std::vector<std::pair<const char*, QStringList>> lists = {
        { "Microsoft dictation", UWLanguageTables::microsoftAsrNames() },
        { "Baidu translation", UWLanguageTables::baiduTranslationNames() },
        { "iFlytek dictation", UWLanguageTables::iflyDictationNames() },
        { "Baidu dictation", UWLanguageTables::baiduDictationNames() },
    };
    const std::pair<const char*, const UWLanguageTables::Sections*> sectioned[] = {
        { "sectioned dictation", &UWLanguageTables::sectionedAsrNames() },
        { "sectioned translation", &UWLanguageTables::sectionedTranslationNames() },
    };
    for (const auto& [name, sections] : sectioned) {
        QStringList all;
        for (const QStringList& section : *sections)
            all += section;
        lists.emplace_back(name, all);
    }
    for (const char* language : { "en", "id", "vi", "ko" }) {
        for (const auto& [list, names] : lists) {
            QHash<QString, QString> keyOfText;
            for (const QString& key : names) {
                if (key.isEmpty())
                    continue;
                const QString text = LGNLocalizedString::lookup(key, QString::fromLatin1(language));
                EXPECT_NE(text, key) << language << ", " << list << ": " << key.toStdString();
                const QString other = keyOfText.value(text);
                EXPECT_TRUE(other.isEmpty() || other == key) << language << ", " << list << ": " << key.toStdString()
                                                             << " and " << other.toStdString() << " both read "
                                                             << text.toStdString();
                keyOfText.insert(text, key);
            }
        }
    }
}

TEST_F(OlderLanguageManagersTest, FreshAccountWithTheMicrosoftEngine)
{
    UWLanguageManager manager(prefs_, QStringLiteral("zh-Hans-CN"));
    EXPECT_EQ(manager.searchEngineTag(), 0u);
    EXPECT_EQ(prefs_.value(UWLanguageManager::kSearchEngineKey).toInt(), 0);
    manager.setAsrLanguageType(0);
    EXPECT_EQ(manager.audioLanguageIndex(), 3u);
    EXPECT_EQ(manager.readAudioLanguageCode(), QStringLiteral("en-US"));
    EXPECT_EQ(manager.readAudioLanguageName(), tr("英语(美国)"));
    EXPECT_EQ(manager.toLanguageIndex(), 1u);
    EXPECT_EQ(manager.readToLanguageCode(), QStringLiteral("en"));
    EXPECT_EQ(manager.uiLanguageIndex(), 0u);

    UWLanguageManager elsewhere(prefs_, QStringLiteral("en-US")); // already stored: kept
    EXPECT_EQ(elsewhere.searchEngineTag(), 0u);
    QTemporaryDir other;
    platform::Preferences fresh(other.filePath(QStringLiteral("d.plist")));
    EXPECT_EQ(UWLanguageManager(fresh, QStringLiteral("zh-Hans")).searchEngineTag(), 1u);
}

TEST_F(OlderLanguageManagersTest, PositionsPastTheEndGiveTheFixedTexts)
{
    UWLanguageManager manager(prefs_, QStringLiteral("en"));
    manager.setToLanguageIndex(50);
    EXPECT_EQ(manager.readToLanguageCode(), QString());
    EXPECT_EQ(manager.readToLanguageName(), tr("法语"));
    manager.setToLanguageIndex(211);
    EXPECT_EQ(manager.readToLanguageCode(), QStringLiteral("zh-Hans"));
    EXPECT_EQ(manager.readToLanguageName(), QStringLiteral("UWASRLanguageTypeAiui 下标超出"));

    const struct {
        qint64 type;
        const char* code;
        const char* codeForTranslate;
        const char* name;
    } cases[] = {
        { 0, "UWASRLanguageTypeMicrosoft 下标超出", "UWASRLanguageTypeMicrosoft 下标超出", "UWASRLanguageTypeMicrosoft 下标超出" },
        { 1, "UWASRLanguageTypeTransferWebapi 下标超出", "UWASRLanguageTypeiFly 下标超出", "UWASRLanguageTypeAiui 下标超出" },
        { 3, "UWASRLanguageTypeTransferWebapi 下标超出", "UWASRLanguageTypeTransferWebapi 下标超出", "UWASRLanguageTypeAiui 下标超出" },
        { 4, "UWASRLanguageTypeAiui 下标超出", "UWASRLanguageTypeAiuiMain 下标超出", "UWASRLanguageTypeAiui 下标超出" },
        { 5, "UWASRLanguageTypeAiui 下标超出", "", "UWASRLanguageTypeAiui 下标超出" },
        { 2, "", "", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        manager.setAsrLanguageType(c.type);
        manager.setAudioLanguageIndex(100);
        manager.setAudioLanguageIndexForTranslate(100);
        EXPECT_EQ(manager.readAudioLanguageCode(), QString::fromUtf8(c.code));
        EXPECT_EQ(manager.readAudioLanguageCodeForMkeyTranslate(), QString::fromUtf8(c.codeForTranslate));
        EXPECT_EQ(manager.readAudioLanguageName(), QString::fromUtf8(c.name));
        EXPECT_EQ(manager.readAudioLanguageNameForMkeyTranslate(), QString::fromUtf8(c.name));
    }
}

TEST_F(OlderLanguageManagersTest, EnginesPickTheirTablesAndSettingsPersist)
{
    {
        UWLanguageManager manager(prefs_, QStringLiteral("en"));
        manager.setAsrLanguageType(4);
        EXPECT_EQ(manager.audioLanguageIndex(), 0u);
        EXPECT_EQ(manager.readAudioLanguageCode(), QStringLiteral("main"));
        manager.setAudioLanguageIndexForTranslate(2);
        EXPECT_EQ(manager.readAudioLanguageCodeForMkeyTranslate(), QStringLiteral("yueyu"));
        EXPECT_EQ(manager.readAudioLanguageNameList().size(), 8);
        manager.setAsrLanguageType(1);
        EXPECT_EQ(manager.readAudioLanguageNameList(), (QStringList { tr("简体中文"), tr("繁体中文"), tr("粤语"), tr("英语") }));
        manager.setAsrLanguageType(0);
        EXPECT_EQ(manager.readAudioLanguageNameList().size(), 30);
        manager.setCopyCmdIndex(2);
        manager.setMKeyIndex(5);
        manager.setWordInputTag(1); // memory only
        EXPECT_EQ(manager.readMKeyNameList().value(5), tr("一键百度"));
        EXPECT_EQ(manager.readSearchEngineNameList(), (QStringList { tr("百度"), tr("谷歌") }));
        EXPECT_EQ(manager.readDeviceTypeNameList(), QStringList { tr("智能语音鼠标") });
        EXPECT_EQ(manager.readWordInputNameList(), manager.readUiLanguageNameList());
        EXPECT_EQ(manager.readToLanguageNameList().size(), 211);
        manager.shouldRefreshData();
        EXPECT_EQ(manager.readToLanguageNameList().size(), 211);
    }
    UWLanguageManager again(prefs_, QStringLiteral("en"));
    again.setAsrLanguageType(4);
    EXPECT_EQ(again.copyCmdIndex(), 2u);
    EXPECT_EQ(again.mKeyIndex(), 5u);
    EXPECT_EQ(again.wordInputTag(), 0u);
    EXPECT_EQ(again.audioLanguageIndexForTranslate(), 2u);
}

TEST_F(OlderLanguageManagersTest, SectionedChoicesWithTheirDefaults)
{
    UWLanguageNewManager manager(prefs_);
    EXPECT_EQ(manager.audioLanguageIndex(), QStringLiteral("9/0"));
    EXPECT_EQ(manager.readAudioLanguageCode(), QStringLiteral("zh-CN"));
    EXPECT_EQ(manager.readAudioLanguageName(), tr("简体中文"));
    EXPECT_EQ(manager.readToLanguageCode(), QStringLiteral("en"));
    EXPECT_EQ(manager.readToLanguageName(), tr("英语"));

    manager.setAudioLanguageIndex(QStringLiteral("5/3"));
    EXPECT_EQ(manager.readAudioLanguageCode(), QStringLiteral("fr-FR"));
    manager.setToLanguageIndex(QStringLiteral("10/2"));
    EXPECT_EQ(manager.readToLanguageCode(), QStringLiteral("tlh-Qaak"));
    EXPECT_EQ(UWLanguageNewManager(prefs_).readToLanguageCode(), QStringLiteral("tlh-Qaak"));

    for (const char* position : { "abc", "9", "30/0", "2/0", "9/7", "-1/0", "9/x" }) {
        manager.setAudioLanguageIndex(QString::fromLatin1(position));
        EXPECT_EQ(manager.readAudioLanguageCode(), QStringLiteral("zh-CN")) << position;
        EXPECT_EQ(manager.readAudioLanguageName(), tr("简体中文")) << position;
    }
    EXPECT_EQ(manager.readAudioLanguageNameList().size(), 26);
    EXPECT_EQ(manager.readToLanguageNameList().size(), 26);
}

} // namespace older_language_test
