#include "core/LGNLocalizedString.h"

#include <gtest/gtest.h>

namespace {

const QString kOpen = QStringLiteral("打开主页");
const QString kQuit = QStringLiteral("退出");
const QString kUnknown = QStringLiteral("没有这个键的文字");

TEST(LGNLocalizedString, ChosenInterfaceLanguageWinsOverTheSystemLanguage)
{
    const QStringList english{QStringLiteral("en-US")};
    EXPECT_EQ(LGNLocalizedString::appLocalizedString(kOpen, 0, english), kOpen); // zh-Hans is the identity
    const QString en = LGNLocalizedString::appLocalizedString(kOpen, 1, english);
    const QString ko = LGNLocalizedString::appLocalizedString(kOpen, 4, english);
    EXPECT_NE(en, kOpen);
    EXPECT_NE(ko, kOpen);
    EXPECT_NE(ko, en);
    for (quint64 ui : {2u, 3u})
        EXPECT_NE(LGNLocalizedString::appLocalizedString(kQuit, ui, english), kQuit) << ui;
}

TEST(LGNLocalizedString, MissingKeysComeBackAsTheKey)
{
    for (quint64 ui : {0u, 1u, 2u, 3u, 4u, 7u})
        EXPECT_EQ(LGNLocalizedString::appLocalizedString(kUnknown, ui, {QStringLiteral("en-US")}), kUnknown) << ui;
}

TEST(LGNLocalizedString, AnIndexOutsideTheTableUsesTheSystemLanguage)
{
    const QString english = LGNLocalizedString::lookup(kOpen, QStringLiteral("en"));
    const QString vietnamese = LGNLocalizedString::lookup(kOpen, QStringLiteral("vi"));
    EXPECT_EQ(LGNLocalizedString::appLocalizedString(kOpen, 7, {QStringLiteral("en-GB")}), english);
    EXPECT_EQ(LGNLocalizedString::appLocalizedString(kOpen, 7, {QStringLiteral("vi-VN")}), vietnamese);
    EXPECT_EQ(LGNLocalizedString::appLocalizedString(kOpen, 7, {QStringLiteral("zh-Hans-CN")}), kOpen);
    // No table for the system language: the source text.
    EXPECT_EQ(LGNLocalizedString::appLocalizedString(kOpen, 7, {QStringLiteral("fr-FR")}), kOpen);
}

TEST(LGNLocalizedString, SystemLookupFallsBackToEnglishForOtherLanguages)
{
    const QString english = LGNLocalizedString::lookup(kOpen, QStringLiteral("en"));
    EXPECT_EQ(LGNLocalizedString::systemLocalizedString(kOpen, {QStringLiteral("fr-FR")}), english);
    EXPECT_EQ(LGNLocalizedString::systemLocalizedString(kOpen, {QStringLiteral("ko-KR")}), english);
    EXPECT_EQ(LGNLocalizedString::systemLocalizedString(kOpen, {QStringLiteral("zh-Hans-CN")}), kOpen);
    EXPECT_EQ(LGNLocalizedString::systemLocalizedString(kOpen, {QStringLiteral("en-AU")}), english);
}

} // namespace
