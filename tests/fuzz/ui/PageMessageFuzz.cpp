// Messages of the settings pages: a name and a body, as the page script
// posts them, read back and applied to the settings and the command table.
//
// Input: the message name on the first line, the body's JSON text after it.

#include "FuzzTarget.h"
#include "SettledPreferences.h"
#include "core/HRPSqliteOperation.h"
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "ui/MMJsModel.h"
#include "ui/ScriptMessageBridge.h"
#include "voice/UWHomeViewModel.h"

namespace pagemessagefuzz {

struct World {
    SettledPreferences settled { QStringLiteral("page-message"), [](platform::Preferences& prefs) {
                                    MMUserInfo user(prefs);
                                    KWLangManager(
                                        prefs, { QStringLiteral("en-US") }, [] { return QString(); });
                                } };
    HRPSqliteOperation database { fuzz::scratchDir() + QStringLiteral("/page-message.sqlite") };
    World() { database.createTableWithtableName(UWHomeViewModel::kDBCustomizeCmdList, MMCustomCmdItem()); }
};

// A page-function argument must stay one inert string literal.
void checkLiteral(const QString& text)
{
    const QString literal = ScriptMessageBridge::stringLiteral(text);
    if (!literal.startsWith(u'\'') || !literal.endsWith(u'\'') || literal.size() < 2)
        fuzz::fail("the literal is not quoted");
    bool escaped = false;
    for (qsizetype i = 1; i + 1 < literal.size(); ++i) {
        const char16_t c = literal.at(i).unicode();
        if (c < 0x20 || c == 0x2028 || c == 0x2029 || c == u'<')
            fuzz::fail("a raw line break, separator or '<' inside the literal");
        if (escaped) {
            escaped = false;
            continue;
        }
        if (c == u'\\')
            escaped = true;
        else if (c == u'\'')
            fuzz::fail("an unescaped quote ends the literal early");
    }
    if (escaped)
        fuzz::fail("the literal ends inside an escape");
}

} // namespace pagemessagefuzz

PRAVIK_FUZZ_TARGET(page_message)
{
    static pagemessagefuzz::World world;
    const qsizetype newline = input.indexOf('\n');
    const QString name = QString::fromUtf8(input.left(newline < 0 ? input.size() : newline));
    const QString bodyText = newline < 0 ? QString() : QString::fromUtf8(input.mid(newline + 1));
    pagemessagefuzz::checkLiteral(bodyText);
    const std::optional<QJsonValue> body = ScriptMessageBridge::parseBody(bodyText);
    if (!body)
        return;

    platform::Preferences& prefs = world.settled.restore();
    MMUserInfo user(prefs);
    KWLangManager languages(prefs, { QStringLiteral("en-US") }, [] { return QString(); });
    UWHomeViewModel commands(world.database, mmQuery(QStringList {}), &prefs);
    MMJsModel model({ user, languages, commands, prefs,
        [](quint64 level) {
            if (level > 4)
                fuzz::fail("a DPI level out of range reached the mouse");
        },
        [](bool) {}, [] {} });
    const qsizetype before = commands.getCustomCmdList().size();
    if (name == MMJsModel::kMouseSettings) {
        model.saveWebConfig1stWebWithMsg(*body);
    } else if (name == MMJsModel::kAiSettings) {
        model.saveWebConfig2ndWebWithMsg(*body);
    } else if (name == MMJsModel::kRefreshInstructionData) {
        if (!model.saveCustomInstructionList(*body) && commands.getCustomCmdList().size() != before)
            fuzz::fail("a refused command list changed the table");
    } else if (name == MMJsModel::kSetSystemLanguage) {
        if (const std::optional<quint64> index = MMJsModel::systemLanguageIndex(*body); index && *index > 4)
            fuzz::fail("an interface language out of range was accepted");
    }
    if (user.webConfig().fir_dpi() > 4 || user.webConfig().sec_searchEngine() > 2
        || user.webConfig().sec_huaciOpen() > 1)
        fuzz::fail("a setting out of range was stored");
    pagemessagefuzz::checkLiteral(model.readUserDefaultWebConfig2nd());
}
