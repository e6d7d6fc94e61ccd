// Everything the program writes follows PRAVIK_HOME: the toolkit's file
// dialog state, and the autostart entry's command (the entry itself stays
// where the desktop reads it).
#include "platform/AppPaths.h"
#include "platform/DesktopEntryInstaller.h"
#include "platform/LoginItem.h"

#include "fakes/ScopedEnv.h"
#include "fakes/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::AppPaths;
using platform::LoginItem;

QString loginItemEntry(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(PravikHomeTest, AFileDialogKeepsItsStateUnderPravikHome)
{
    fakes::TempHome home;
    const QString before = QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName();
    AppPaths::keepToolkitSettingsInPreferences();
    {
        QFileDialog dialog(nullptr, QStringLiteral("Save"), home.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.show();
        QApplication::processEvents();
        dialog.reject();
    }
    const QString expected = home.path() + QStringLiteral("/Preferences/QtProject.conf");
    EXPECT_TRUE(QFile::exists(expected)) << "the dialog's state is kept in the preferences folder";
    EXPECT_EQ(QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName(), expected);
    // Other tests of this process keep the toolkit's own place.
    const QString folder = QFileInfo(before).absolutePath();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

TEST(PravikHomeTest, WithoutPravikHomeTheToolkitKeepsItsOwnPlace)
{
    fakes::ScopedEnv unset("PRAVIK_HOME", QString());
    const QString before = QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName();
    AppPaths::keepToolkitSettingsInPreferences();
    EXPECT_EQ(QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName(), before);
    EXPECT_EQ(AppPaths::pravikHome(), QString());
}

TEST(LoginItemTest, TheAutostartCommandCarriesPravikHomeAndTheEntryStaysWhereTheDesktopReadsIt)
{
    QTemporaryDir config;
    fakes::ScopedEnv xdg("XDG_CONFIG_HOME", config.path());
    fakes::TempHome home;
    LoginItem& item = LoginItem::shared();
    EXPECT_EQ(item.entryPath(), config.path() + QStringLiteral("/autostart/pravik.desktop"));
    ASSERT_TRUE(item.setEnabled(true));
    const QString text = loginItemEntry(item.entryPath());
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=env \"PRAVIK_HOME=%1\" \"%2\"\n")
                                  .arg(home.path(), QCoreApplication::applicationFilePath())))
        << text.toStdString();
    EXPECT_TRUE(item.setEnabled(false));
    EXPECT_FALSE(QFile::exists(item.entryPath()));
}

TEST(LoginItemTest, EnvironmentAssignmentsAreQuotedAndOnesThatBreakTheLineRefused)
{
    QTemporaryDir config;
    const struct {
        const char* name;
        QStringList environment;
        const char* exec; // null: refused
    } cases[] = {
        { "none", {}, "Exec=\"/opt/pra vik/pravik\"" },
        { "a folder with a blank and a dollar", { QStringLiteral("PRAVIK_HOME=/tmp/my $home") },
            "Exec=env \"PRAVIK_HOME=/tmp/my \\\\$home\" \"/opt/pra vik/pravik\"" },
        { "a line break", { QStringLiteral("PRAVIK_HOME=/tmp/a\nb") }, nullptr },
        { "no assignment", { QStringLiteral("PRAVIK_HOME") }, nullptr },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoginItem item(config.path(), QStringLiteral("pravik"), QStringLiteral("PraVik"),
            QStringLiteral("/opt/pra vik/pravik"), c.environment);
        QString error;
        ASSERT_EQ(item.setEnabled(true, &error), c.exec != nullptr) << error.toStdString();
        if (c.exec) {
            EXPECT_TRUE(loginItemEntry(item.entryPath()).contains(QLatin1String("\n") + QString::fromUtf8(c.exec) + u'\n'))
                << loginItemEntry(item.entryPath()).toStdString();
        } else {
            EXPECT_FALSE(QFile::exists(item.entryPath()));
        }
        item.setEnabled(false);
    }
}

} // namespace
