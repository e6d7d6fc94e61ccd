#include "platform/DesktopEntryInstaller.h"

#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::DesktopEntry;
using platform::DesktopEntryInstaller;
using Result = DesktopEntryInstaller::Result;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class DesktopEntryInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(image.save(iconSource()));
    }
    QString iconSource() const { return dir.filePath(QStringLiteral("source-icon.png")); }
    QString dataHome() const { return dir.filePath(QStringLiteral("share")); }
    QString entryFile() const
    {
        return DesktopEntryInstaller::entryPath(dataHome(), QStringLiteral("pravik"));
    }
    QString iconFile() const { return dataHome() + QStringLiteral("/icons/hicolor/48x48/apps/pravik.png"); }

    DesktopEntryInstaller::Launcher launcher(
        const QString& program = QStringLiteral("/opt/pravik/bin/pravik")) const
    {
        return { QStringLiteral("pravik"), QStringLiteral("PraVik"), QStringLiteral("Voice mouse companion"),
            program, iconSource(), { QStringLiteral("Utility") } };
    }

    QTemporaryDir dir;
};

TEST_F(DesktopEntryInstallerTest, InstallsAnEntryThatLaunchesTheProgramAndItsThemeIcon)
{
    QString error;
    ASSERT_EQ(DesktopEntryInstaller::install(launcher(), dataHome(), &error), Result::Installed)
        << error.toStdString();

    const auto entry = DesktopEntry::read(entryFile());
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(entry->value(QStringLiteral("Name")), QStringLiteral("PraVik"));
    EXPECT_EQ(entry->value(QStringLiteral("Icon")), QStringLiteral("pravik"));
    EXPECT_FALSE(entry->boolValue(QStringLiteral("Terminal")));
    EXPECT_EQ(entry->listValue(QStringLiteral("Categories")), QStringList { QStringLiteral("Utility") });
    EXPECT_EQ(entry->launchArguments(), QStringList { QStringLiteral("/opt/pravik/bin/pravik") });
    // The theme icon sits in the folder of its size, as the icon theme rules look it up.
    EXPECT_EQ(readFile(iconFile()), readFile(iconSource()));

    // Nothing changed: nothing is written.
    const QDateTime written = QFileInfo(entryFile()).lastModified();
    EXPECT_EQ(DesktopEntryInstaller::install(launcher(), dataHome()), Result::UpToDate);
    EXPECT_EQ(QFileInfo(entryFile()).lastModified(), written);
}

TEST_F(DesktopEntryInstallerTest, AnOutdatedEntryOrIconIsReplaced)
{
    ASSERT_EQ(DesktopEntryInstaller::install(launcher(), dataHome()), Result::Installed);

    // The program moved.
    ASSERT_EQ(DesktopEntryInstaller::install(launcher(QStringLiteral("/usr/local/bin/pravik")), dataHome()),
        Result::Installed);
    EXPECT_EQ(DesktopEntry::read(entryFile())->launchArguments(),
        QStringList { QStringLiteral("/usr/local/bin/pravik") });

    // The icon changed.
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(iconSource()));
    EXPECT_EQ(DesktopEntryInstaller::install(launcher(QStringLiteral("/usr/local/bin/pravik")), dataHome()),
        Result::Installed);
    EXPECT_EQ(readFile(iconFile()), readFile(iconSource()));

    // Someone damaged the entry.
    QFile damaged(entryFile());
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("garbage");
    damaged.close();
    EXPECT_EQ(DesktopEntryInstaller::install(launcher(QStringLiteral("/usr/local/bin/pravik")), dataHome()),
        Result::Installed);
    EXPECT_TRUE(DesktopEntry::read(entryFile()).has_value());
}

// Whatever the program's path holds, the entry's Exec line gives it back as
// the one argument it is.
TEST_F(DesktopEntryInstallerTest, ExecQuotingKeepsAnyPathIntact)
{
    const QStringList programs {
        QStringLiteral("/home/ana/my programs/pravik"),
        QStringLiteral("/tmp/a\"b$c`d/pravik"),
        QStringLiteral("/tmp/back\\slash/pravik"),
        QStringLiteral("/tmp/100%u/pravik"),
        QStringLiteral("/tmp/semi;colon=/pravik"),
        QStringLiteral("/opt/程序/pravik"),
    };
    for (const QString& program : programs) {
        const auto entry = DesktopEntry::parse(DesktopEntryInstaller::entryText(launcher(program)));
        ASSERT_TRUE(entry.has_value()) << program.toStdString();
        EXPECT_EQ(entry->launchArguments(), QStringList { program }) << program.toStdString();
        EXPECT_EQ(entry->value(QStringLiteral("TryExec")), program) << program.toStdString();
    }
    EXPECT_TRUE(DesktopEntryInstaller::entryText(launcher(QStringLiteral("/tmp/line\nbreak"))).isEmpty());
}

TEST_F(DesktopEntryInstallerTest, FailuresSayWhy)
{
    QString error;
    // A file where the data folder should be: refused for every user, root included.
    QFile blocker(dataHome());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(DesktopEntryInstaller::install(launcher(), dataHome(), &error), Result::Failed);
    EXPECT_TRUE(error.contains(dataHome())) << error.toStdString();

    auto noIcon = launcher();
    noIcon.iconSource = dir.filePath(QStringLiteral("missing.png"));
    EXPECT_EQ(DesktopEntryInstaller::install(noIcon, dir.filePath(QStringLiteral("other")), &error),
        Result::Failed);
    EXPECT_TRUE(error.contains(QStringLiteral("missing.png"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(
        DesktopEntryInstaller::entryPath(dir.filePath(QStringLiteral("other")), QStringLiteral("pravik"))));
}

} // namespace
