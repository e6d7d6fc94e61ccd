#include "platform/DesktopEntry.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::DesktopEntry;

DesktopEntry parsed(const QByteArray& text, const QString& path = QStringLiteral("/apps/x.desktop"))
{
    std::optional<DesktopEntry> entry = DesktopEntry::parse(text, path);
    EXPECT_TRUE(entry.has_value());
    return entry.value_or(*DesktopEntry::parse("[Desktop Entry]\n"));
}

TEST(DesktopEntry, ReadsTheMainGroupOnly)
{
    const DesktopEntry entry = parsed("# comment\r\n"
                                      "[Desktop Entry]\r\n"
                                      "Name = Text  Editor \r\n"
                                      "Name=ignored repeat\n"
                                      "Comment=a\\sb\\nc\\td\\\\e\\x\n"
                                      "NoDisplay=true\n"
                                      "Hidden=True\n"
                                      "Categories=Utility;Text\\;Plain;\n"
                                      "NotShowIn=KDE\n"
                                      "broken line\n"
                                      "=no key\n"
                                      "[Desktop Action new]\n"
                                      "Exec=other\n"
                                      "[Desktop Entry]\n"
                                      "Exec=second group\n");
    EXPECT_EQ(entry.value(QStringLiteral("Name")), QStringLiteral("Text  Editor "));
    EXPECT_EQ(entry.value(QStringLiteral("Comment")), QStringLiteral("a b\nc\td\\e\\x"));
    EXPECT_TRUE(entry.value(QStringLiteral("Exec")).isNull());
    EXPECT_TRUE(entry.boolValue(QStringLiteral("NoDisplay")));
    EXPECT_FALSE(entry.boolValue(QStringLiteral("Hidden")));
    EXPECT_FALSE(entry.boolValue(QStringLiteral("Terminal")));
    EXPECT_EQ(entry.listValue(QStringLiteral("Categories")),
        (QStringList { QStringLiteral("Utility"), QStringLiteral("Text;Plain") }));
    EXPECT_EQ(entry.listValue(QStringLiteral("NotShowIn")), QStringList { QStringLiteral("KDE") });
    EXPECT_TRUE(entry.listValue(QStringLiteral("OnlyShowIn")).isEmpty());
    EXPECT_EQ(entry.filePath(), QStringLiteral("/apps/x.desktop"));

    for (const QByteArray& notAnEntry :
        { QByteArray(), QByteArray("Name=x\n"), QByteArray("[Other]\nName=x\n") })
        EXPECT_FALSE(DesktopEntry::parse(notAnEntry).has_value());
}

TEST(DesktopEntry, LocalisedValues)
{
    const DesktopEntry entry = parsed("[Desktop Entry]\n"
                                      "Name=Files\n"
                                      "Name[sr_RS@latin]=Datoteke RS latin\n"
                                      "Name[sr@latin]=Datoteke latin\n"
                                      "Name[sr]=Датотеке\n"
                                      "Name[zh_CN]=文件\n"
                                      "Name[de]=Dateien\n");
    const QList<QPair<QString, QString>> cases {
        { QStringLiteral("sr_RS@latin"), QStringLiteral("Datoteke RS latin") },
        { QStringLiteral("sr_ME@latin"), QStringLiteral("Datoteke latin") },
        { QStringLiteral("sr_RS.UTF-8"), QStringLiteral("Датотеке") },
        { QStringLiteral("zh_CN.UTF-8"), QStringLiteral("文件") },
        { QStringLiteral("zh_TW"), QStringLiteral("Files") },
        { QStringLiteral("de_AT"), QStringLiteral("Dateien") },
        { QStringLiteral(""), QStringLiteral("Files") },
    };
    for (const auto& [locale, name] : cases)
        EXPECT_EQ(entry.localizedValue(QStringLiteral("Name"), locale), name) << locale.toStdString();
}

TEST(DesktopEntry, LaunchArgumentsFromExec)
{
    struct Case {
        const char* exec;
        QStringList arguments; // empty: no command
    };
    const QList<Case> cases {
        { "Exec=gedit %U", { "gedit" } },
        { "Exec=/usr/bin/app --new-window %f", { "/usr/bin/app", "--new-window" } },
        { "Exec=\"/opt/My App/run\"  -x  \"\" 100%%", { "/opt/My App/run", "-x", "", "100%" } },
        // The string escapes come first, then the quoting inside the argument.
        { "Exec=sh -c \"echo \\\\\"a b\\\\\" \\\\$HOME \\\\`x\\\\`\"",
            { "sh", "-c", "echo \"a b\" $HOME `x`" } },
        { "Exec=app%sx", {} },
        { "Exec=app --icon-name=%i", { "app", "--icon-name=" } },
        { "Exec=app %i --title=%c --file=%k",
            { "app", "--icon", "text-editor", "--title=Editor", "--file=/apps/x.desktop" } },
        { "Exec=app %d %D %n %N %v %m", { "app" } },
        { "Exec=\"unbalanced", {} },
        { "Exec=app %", {} },
        { "Exec=%U", {} },
        { "Exec=", {} },
        { "Name=no exec", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec);
        const DesktopEntry entry
            = parsed(QByteArray("[Desktop Entry]\nName=Editor\nIcon=text-editor\n") + c.exec + "\n");
        const std::optional<QStringList> arguments = entry.launchArguments();
        if (c.arguments.isEmpty())
            EXPECT_FALSE(arguments.has_value()) << arguments->join(QLatin1Char('|')).toStdString();
        else
            EXPECT_EQ(arguments, c.arguments);
    }

    const DesktopEntry noIcon = parsed("[Desktop Entry]\nExec=app %i\n");
    EXPECT_EQ(noIcon.launchArguments(), QStringList { QStringLiteral("app") });
}

TEST(DesktopEntry, ReadsFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.desktop"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nName=A\n");
    file.close();
    const std::optional<DesktopEntry> entry = DesktopEntry::read(path);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->filePath(), path);
    EXPECT_EQ(entry->value(QStringLiteral("Name")), QStringLiteral("A"));

    EXPECT_FALSE(DesktopEntry::read(dir.filePath(QStringLiteral("missing.desktop"))).has_value());
    EXPECT_FALSE(DesktopEntry::read(dir.path()).has_value());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(QByteArray(DesktopEntry::kMaximumFileSize, '#'));
    file.close();
    EXPECT_FALSE(DesktopEntry::read(path).has_value());
}

} // namespace
