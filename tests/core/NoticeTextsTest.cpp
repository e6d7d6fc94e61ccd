#include "core/NoticeTexts.h"

#include "core/KWLangManager.h"
#include "fakes/TempHome.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

TEST(NoticeTexts, FillReplacesEachPlaceholderInOrder)
{
    const struct {
        const char* text;
        QStringList arguments;
        const char* expected;
    } cases[] = {
        { "a %@ b %@ c", { "1", "2" }, "a 1 b 2 c" },
        { "%@%@", { "x", "y" }, "xy" },
        { "no placeholder", { "x" }, "no placeholder" },
        { "one %@ two %@", { "x" }, "one x two %@" },
        // An argument that itself holds "%@" is not filled again.
        { "%@ and %@", { "%@", "b" }, "%@ and b" },
        { "100% %@", { "sure" }, "100% sure" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoticeTexts::fill(QString::fromUtf8(c.text), c.arguments), QString::fromUtf8(c.expected))
            << c.text;
}

// Every notice must have its text in the tables: a key that is not in them
// would reach an English or Korean user in Chinese.
TEST(NoticeTexts, EveryNoticeIsTranslatedAndCarriesItsDetails)
{
    fakes::TempHome home; // the language choice is a stored setting
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    static const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    for (quint64 ui : { 1u, 2u, 3u, 4u }) {
        languages.setIndexOfUI(ui);
        const QStringList texts {
            NoticeTexts::backendNotConfigured(QStringLiteral("VAR_A"), QStringLiteral("KeyB")),
            NoticeTexts::backendInvalid(QStringLiteral("addr-C")),
            NoticeTexts::backendUnreachable(QStringLiteral("addr-C"), QStringLiteral("why-D")),
            NoticeTexts::commandDatabaseDamaged(
                QStringLiteral("/p/E"), QStringLiteral("why-D"), QStringLiteral("/p/F")),
            NoticeTexts::storageNotWritable(QStringLiteral("/p/G"), QStringLiteral("why-D")),
        };
        const QList<QStringList> details {
            { "VAR_A", "KeyB" },
            { "addr-C" },
            { "addr-C", "why-D" },
            { "/p/E", "why-D", "/p/F" },
            { "/p/G", "why-D" },
        };
        for (int i = 0; i < texts.size(); ++i) {
            EXPECT_FALSE(texts[i].contains(chinese)) << ui << ": " << texts[i].toStdString();
            EXPECT_FALSE(texts[i].contains(QStringLiteral("%@"))) << texts[i].toStdString();
            for (const QString& detail : details[i])
                EXPECT_TRUE(texts[i].contains(detail)) << ui << ": " << texts[i].toStdString();
        }
    }
    languages.setIndexOfUI(before);
}

} // namespace
