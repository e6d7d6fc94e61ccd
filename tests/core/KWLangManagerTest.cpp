#include "core/KWLangManager.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct StartupCase {
    const char* systemLanguage;
    quint64 ui;
    quint64 typing;
};

class KWLangManagerTest : public ::testing::TestWithParam<StartupCase> {
protected:
    QTemporaryDir dir;
    QString region;
    std::unique_ptr<platform::Preferences> prefs = std::make_unique<platform::Preferences>(dir.filePath("d.plist"));
    KWLangManager make(const QString& language)
    {
        return KWLangManager(*prefs, {language}, [this] { return region; });
    }
};

TEST_P(KWLangManagerTest, StartupRulesForAFreshAccount)
{
    const StartupCase c = GetParam();
    KWLangManager m = make(QString::fromLatin1(c.systemLanguage));
    EXPECT_EQ(m.indexOfUI(), c.ui);
    EXPECT_EQ(m.indexTypingFrom(), c.typing);
    EXPECT_EQ(m.indexTransFrom(), c.typing);
    // The three derived choices are stored, the rest is not.
    EXPECT_EQ(prefs->integerValue(KWLangManager::kIndexOfUI, -1), qlonglong(c.ui));
    EXPECT_EQ(prefs->integerValue(KWLangManager::kIndexTypingFrom, -1), qlonglong(c.typing));
    EXPECT_EQ(prefs->integerValue(KWLangManager::kIndexTransFrom, -1), qlonglong(c.typing));
    EXPECT_FALSE(prefs->contains(KWLangManager::kIndexTransTo));
    EXPECT_FALSE(prefs->contains(KWLangManager::kTypingFromCode));
    EXPECT_EQ(m.TypingFromName(), QStringLiteral(""));
    EXPECT_EQ(m.TransFromCode(), QStringLiteral(""));
}

INSTANTIATE_TEST_SUITE_P(SystemLanguages, KWLangManagerTest,
                         ::testing::Values(StartupCase{"zh-Hans-CN", 0, 1}, StartupCase{"zh-Hant-TW", 0, 1},
                                           StartupCase{"id-ID", 2, 2}, StartupCase{"vi-VN", 3, 2},
                                           StartupCase{"ko-KR", 1, 2}, StartupCase{"fr-FR", 1, 2}));

TEST_F(KWLangManagerTest, StoredChoicesWinOverTheSystemLanguage)
{
    {
        KWLangManager m = make(QStringLiteral("zh-Hans-CN"));
        m.setIndexOfUI(4);
        m.setIndexTypingFrom(7);
        m.setTypingFromCode(QStringLiteral("en_us"));
        m.setIndexOcrTo(12);
    }
    KWLangManager again = make(QStringLiteral("fr-FR"));
    EXPECT_EQ(again.indexOfUI(), 4u);
    EXPECT_EQ(again.indexTypingFrom(), 7u);
    EXPECT_EQ(again.indexTransFrom(), 1u); // stored on the first start, from the typing index then
    EXPECT_EQ(again.TypingFromCode(), QStringLiteral("en_us"));
    EXPECT_EQ(again.indexOcrTo(), 12u);
}

TEST_F(KWLangManagerTest, ListsFollowTheRegionAtTheMomentOfTheCall)
{
    KWLangManager m = make(QStringLiteral("en-US"));
    const auto mainlandTrans = KWLangManager::loadList(QStringLiteral("TransOfXunfeiAll"));
    const auto overseasTrans = KWLangManager::loadList(QStringLiteral("TransOfWeiruanFull"));
    ASSERT_TRUE(mainlandTrans && overseasTrans);

    region = QString(); // no device identified yet: overseas
    EXPECT_EQ(m.getTransLangeArray(), overseasTrans);
    EXPECT_EQ(m.getOcrLangeArray(), KWLangManager::loadList(QStringLiteral("OcrLanguageMicrosoft")));
    EXPECT_EQ(m.getTypingFromLangeArray(), KWLangManager::loadList(QStringLiteral("ASROfXunfei_haiwai")));
    region = QStringLiteral("cn");
    EXPECT_EQ(m.getTransLangeArray(), mainlandTrans);
    EXPECT_EQ(m.getOcrLangeArray(), KWLangManager::loadList(QStringLiteral("OcrLanguageXunfei")));
    EXPECT_EQ(m.getXunfeiAsrLanguageArray(), KWLangManager::loadList(QStringLiteral("ASROfXunfei_cn")));
    region = QStringLiteral("CN"); // the test is exact equality
    EXPECT_EQ(m.getTransLangeArray(), overseasTrans);
    // Selection source and speech voices do not depend on the region.
    EXPECT_EQ(m.getHuaciLangeArray(), mainlandTrans);
    EXPECT_EQ(m.getTTSLangeArray(), KWLangManager::loadList(QStringLiteral("ttsLangsApple")));
}

TEST(KWLangManagerLists, EveryListLoadsWithNameAndValueInEachEntry)
{
    for (const char* name : {"ASROfXunfei_cn", "ASROfXunfei_haiwai", "OcrLanguageXunfei", "OcrLanguageMicrosoft",
                             "TransOfXunfeiAll", "TransOfWeiruanFull", "ttsLangsApple", "baiduOrcLangList"}) {
        const auto list = KWLangManager::loadList(QString::fromLatin1(name));
        ASSERT_TRUE(list) << name;
        EXPECT_FALSE(list->isEmpty()) << name;
        for (const QVariant& entry : *list) {
            EXPECT_EQ(entry.toMap().value("name").typeId(), QMetaType::QString) << name;
            EXPECT_EQ(entry.toMap().value("value").typeId(), QMetaType::QString) << name;
        }
    }
    EXPECT_EQ(KWLangManager::loadList(QStringLiteral("ttsLangsApple"))->size(),
              KWLangManager::loadList(QStringLiteral("TransOfWeiruanFull"))->size());
    EXPECT_FALSE(KWLangManager::loadList(QStringLiteral("NoSuchList")));
}

TEST(KWLangManagerLists, LookupsByIndex)
{
    const LanguageList list{QVariantMap{{"name", "中文"}, {"value", "cn"}}, QVariantMap{{"name", "英语"}, {"value", "en"}}};
    struct Case {
        quint64 index;
        const char* name;
        const char* code;
    } cases[] = {{0, "中文", "cn"}, {1, "英语", "en"}, {2, "中文", "cn"}, {~0ull, "中文", "cn"}};
    for (const auto& c : cases) {
        EXPECT_EQ(KWLangManager::getLanguageNameWithLanguageList(list, c.index), QString::fromUtf8(c.name));
        EXPECT_EQ(KWLangManager::getLanguageCodeWithLanguageList(list, c.index), QString::fromUtf8(c.code));
    }
    EXPECT_EQ(KWLangManager::getAllNamesWithLanguageList(list), (QStringList{"中文", "英语"}));
    // Missing and empty lists give no text and no names.
    EXPECT_TRUE(KWLangManager::getLanguageNameWithLanguageList(std::nullopt, 0).isNull());
    EXPECT_TRUE(KWLangManager::getLanguageCodeWithLanguageList(LanguageList{}, 0).isNull());
    EXPECT_TRUE(KWLangManager::getAllNamesWithLanguageList(std::nullopt).isEmpty());
}

} // namespace
