#include "core/NoticeTexts.h"

#include "core/KWLangManager.h"
#include "fakes/TempHome.h"

#include <QFile>
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
            NoticeTexts::chatPortalNotConfigured(QStringLiteral("VAR_A"), QStringLiteral("KeyB")),
            NoticeTexts::manualNeedsBackend(QStringLiteral("VAR_A"), QStringLiteral("KeyB")),
            NoticeTexts::updatesNeedBackend(QStringLiteral("VAR_A"), QStringLiteral("KeyB")),
        };
        const QList<QStringList> details {
            { "VAR_A", "KeyB" },
            { "addr-C" },
            { "addr-C", "why-D" },
            { "/p/E", "why-D", "/p/F" },
            { "/p/G", "why-D" },
            { "VAR_A", "KeyB" },
            { "VAR_A", "KeyB" },
            { "VAR_A", "KeyB" },
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

// A text that sends the user to a section of the README names one that is
// there, and names the variable and the setting to use.
TEST(NoticeTexts, TheReadmeSectionsTheyReferToExist)
{
    fakes::TempHome home;
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(1);
    QFile file(qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR") + QStringLiteral("/../README.md"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "PRAVIK_TEST_SOURCE_DIR is needed";
    const QString readme = QString::fromUtf8(file.readAll());
    static const QRegularExpression section(QStringLiteral("\"([^\"]+)\" in the README"));
    const QString backend = QStringLiteral("PRAVIK_BACKEND_URL"), backendKey = QStringLiteral("BackendBaseURL");
    const QString portal = QStringLiteral("PRAVIK_CHAT_PORTAL_URL"), portalKey = QStringLiteral("ChatPortalURL");
    const struct {
        QString text, variable, setting;
    } cases[] = {
        { NoticeTexts::backendNotConfigured(backend, backendKey), backend, backendKey },
        { NoticeTexts::chatPortalNotConfigured(portal, portalKey), portal, portalKey },
        { NoticeTexts::manualNeedsBackend(backend, backendKey), backend, backendKey },
        { NoticeTexts::updatesNeedBackend(backend, backendKey), backend, backendKey },
    };
    for (const auto& c : cases) {
        const QRegularExpressionMatch match = section.match(c.text);
        ASSERT_TRUE(match.hasMatch()) << c.text.toStdString();
        EXPECT_TRUE(readme.contains(QStringLiteral("**") + match.captured(1) + QStringLiteral(".**")))
            << match.captured(1).toStdString();
        for (const QString& name : { c.variable, c.setting }) {
            EXPECT_TRUE(c.text.contains(name)) << c.text.toStdString();
            EXPECT_TRUE(readme.contains(name)) << name.toStdString();
        }
    }
    languages.setIndexOfUI(before);
}

} // namespace
