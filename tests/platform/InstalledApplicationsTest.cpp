#include "platform/InstalledApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <vector>

namespace {

using platform::InstalledApplication;
using platform::InstalledApplications;

class InstalledApplicationsTest : public ::testing::Test {
protected:
    // Data folders "high" (like ~/.local/share) and "low" (like /usr/share).
    QString folder(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

    QString write(const QString& relative, const QByteArray& contents)
    {
        const QString path = dir_.path() + QLatin1Char('/') + relative;
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        return path;
    }
    QString app(const QString& relative, const QByteArray& name, const QByteArray& extra = {})
    {
        return write(
            relative, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=run\n" + extra + "\n");
    }
    QString image(const QString& relative, int width, int height)
    {
        const QString path = dir_.path() + QLatin1Char('/') + relative;
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QImage picture(width, height, QImage::Format_ARGB32);
        picture.fill(Qt::blue);
        EXPECT_TRUE(picture.save(path));
        return path;
    }

    QStringList listedNames(const QStringList& desktops = { QStringLiteral("GNOME") })
    {
        QStringList names;
        for (const InstalledApplication& a :
            InstalledApplications::list({ folder(QStringLiteral("high")), folder(QStringLiteral("low")) },
                QStringLiteral("de_DE.UTF-8"), desktops))
            names.append(a.displayName);
        return names;
    }

    QTemporaryDir dir_;
};

TEST_F(InstalledApplicationsTest, ListsWhatMenusWouldShow)
{
    const QString shown = app(QStringLiteral("low/applications/editor.desktop"), "Editor",
        "Name[de]=Texteditor\nIcon=accessories-text-editor\nOnlyShowIn=KDE;GNOME;\nTryExec=sh");
    app(QStringLiteral("low/applications/kde/tool.desktop"), "Tool");
    write(
        QStringLiteral("low/applications/link.desktop"), "[Desktop Entry]\nType=Link\nName=Link\nExec=run\n");
    app(QStringLiteral("low/applications/nodisplay.desktop"), "NoDisplay", "NoDisplay=true");
    app(QStringLiteral("low/applications/hidden.desktop"), "Hidden", "Hidden=true");
    app(QStringLiteral("low/applications/terminal.desktop"), "Terminal", "Terminal=true");
    app(QStringLiteral("low/applications/kdeonly.desktop"), "KdeOnly", "OnlyShowIn=KDE;");
    app(QStringLiteral("low/applications/notgnome.desktop"), "NotGnome", "NotShowIn=gnome;");
    app(QStringLiteral("low/applications/missing.desktop"), "Missing", "TryExec=/nonexistent/program");
    write(QStringLiteral("low/applications/noexec.desktop"),
        "[Desktop Entry]\nType=Application\nName=NoExec\n");
    write(QStringLiteral("low/applications/badexec.desktop"),
        "[Desktop Entry]\nType=Application\nName=BadExec\nExec=\"run\n");
    write(QStringLiteral("low/applications/noname.desktop"), "[Desktop Entry]\nType=Application\nExec=run\n");
    write(QStringLiteral("low/applications/garbage.desktop"), QByteArray("\0\xff\xfe", 3));
    app(QStringLiteral("low/applications/readme.txt"), "NotAnEntry");

    const QList<InstalledApplication> listed = InstalledApplications::list(
        { folder(QStringLiteral("low")) }, QStringLiteral("de_DE.UTF-8"), { QStringLiteral("GNOME") });
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed.at(0),
        (InstalledApplication {
            QStringLiteral("Texteditor"), shown, QStringLiteral("accessories-text-editor") }));
    EXPECT_EQ(listed.at(1).displayName, QStringLiteral("Tool"));
    EXPECT_EQ(listed.at(1).path, folder(QStringLiteral("low/applications/kde/tool.desktop")));

    // On a desktop that names none, OnlyShowIn hides and NotShowIn does not.
    const QStringList elsewhere = [&] {
        QStringList names;
        for (const auto& a : InstalledApplications::list({ folder(QStringLiteral("low")) }, QString(), {}))
            names.append(a.displayName);
        return names;
    }();
    EXPECT_EQ(elsewhere, (QStringList { QStringLiteral("NotGnome"), QStringLiteral("Tool") }));
}

TEST_F(InstalledApplicationsTest, AnEarlierFolderOverridesTheSameDesktopFileId)
{
    app(QStringLiteral("low/applications/editor.desktop"), "Old Editor");
    const QString override = app(QStringLiteral("high/applications/editor.desktop"), "New Editor");
    app(QStringLiteral("low/applications/removed.desktop"), "Removed");
    app(QStringLiteral("high/applications/removed.desktop"), "Removed", "Hidden=true");
    // "kde/viewer.desktop" and "kde-viewer.desktop" are one id.
    app(QStringLiteral("low/applications/kde-viewer.desktop"), "Low Viewer");
    app(QStringLiteral("high/applications/kde/viewer.desktop"), "high viewer");
    app(QStringLiteral("low/applications/zebra.desktop"), "zebra");
    app(QStringLiteral("low/applications/apple.desktop"), "Apple");

    EXPECT_EQ(listedNames(),
        (QStringList { QStringLiteral("Apple"), QStringLiteral("high viewer"), QStringLiteral("New Editor"),
            QStringLiteral("zebra") }));
    const auto listed = InstalledApplications::list(
        { folder(QStringLiteral("high")), folder(QStringLiteral("low")) }, QString(), {});
    EXPECT_EQ(listed.at(2).path, override);
}

TEST_F(InstalledApplicationsTest, IconsFromPathsThemeAndPixmaps)
{
    const QStringList folders { folder(QStringLiteral("high")), folder(QStringLiteral("low")) };
    const QString absolute = image(QStringLiteral("pictures/big.png"), 200, 100);
    EXPECT_EQ(InstalledApplications::iconImage(absolute, 64, folders).size(), QSize(64, 32));
    EXPECT_EQ(InstalledApplications::iconImage(absolute, 300, folders).size(), QSize(200, 100));

    // The theme size nearest the shown size wins over a folder's precedence.
    image(QStringLiteral("high/icons/hicolor/16x16/apps/viewer.png"), 16, 16);
    image(QStringLiteral("low/icons/hicolor/48x48/apps/viewer.png"), 48, 48);
    image(QStringLiteral("low/icons/hicolor/256x256/apps/viewer.png"), 256, 256);
    EXPECT_EQ(InstalledApplications::iconImage(QStringLiteral("viewer"), 64, folders).size(), QSize(48, 48));

    image(QStringLiteral("low/pixmaps/legacy.png"), 32, 32);
    EXPECT_EQ(InstalledApplications::iconImage(QStringLiteral("legacy"), 64, folders).size(), QSize(32, 32));
    EXPECT_EQ(
        InstalledApplications::iconImage(QStringLiteral("legacy.png"), 64, folders).size(), QSize(32, 32));

    write(QStringLiteral("low/pixmaps/broken.png"), "not a picture");
    for (const QString& none :
        { QStringLiteral("missing"), QStringLiteral("broken"), QString(), QStringLiteral("../pictures/big"),
            QStringLiteral("pixmaps/legacy"), folder(QStringLiteral("pictures/missing.png")) })
        EXPECT_TRUE(InstalledApplications::iconImage(none, 64, folders).isNull()) << none.toStdString();
    EXPECT_TRUE(InstalledApplications::iconImage(absolute, 0, folders).isNull());
}

TEST(InstalledApplications, DataFoldersFromTheEnvironment)
{
    struct Saved {
        const char* name;
        bool set;
        QByteArray value;
    };
    const std::vector<Saved> saved {
        { "XDG_DATA_HOME", qEnvironmentVariableIsSet("XDG_DATA_HOME"), qgetenv("XDG_DATA_HOME") },
        { "XDG_DATA_DIRS", qEnvironmentVariableIsSet("XDG_DATA_DIRS"), qgetenv("XDG_DATA_DIRS") },
    };
    qputenv("XDG_DATA_HOME", "/custom/home");
    qputenv("XDG_DATA_DIRS", "/opt/share:relative/share::/usr/share:/custom/home");
    const QStringList custom = InstalledApplications::dataFolders();
    qputenv("XDG_DATA_HOME", "relative");
    qunsetenv("XDG_DATA_DIRS");
    const QStringList defaults = InstalledApplications::dataFolders();
    for (const Saved& variable : saved) {
        if (variable.set)
            qputenv(variable.name, variable.value);
        else
            qunsetenv(variable.name);
    }

    EXPECT_EQ(custom,
        (QStringList {
            QStringLiteral("/custom/home"), QStringLiteral("/opt/share"), QStringLiteral("/usr/share") }));
    EXPECT_EQ(defaults,
        (QStringList { QDir::homePath() + QStringLiteral("/.local/share"), QStringLiteral("/usr/local/share"),
            QStringLiteral("/usr/share") }));
}

} // namespace
