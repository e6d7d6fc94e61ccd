#include "platform/AppPaths.h"

#include "fakes/ScopedEnv.h"
#include "fakes/TempHome.h"
#include "platform/Resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::AppPaths;
using platform::Resources;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(AppPaths, PravikHomeHoldsEverything)
{
    fakes::TempHome home;
    const std::vector<std::pair<QString, QString>> cases {
        { AppPaths::documents(), home.path() + QStringLiteral("/Documents") },
        { AppPaths::applicationSupport(), home.path() + QStringLiteral("/Application Support") },
        { AppPaths::preferences(), home.path() + QStringLiteral("/Preferences") },
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
        EXPECT_TRUE(QFileInfo(actual).isDir()) << qPrintable(actual); // created on first use
    }
}

TEST(AppPaths, WithoutPravikHomeTheXdgFoldersAreUsed)
{
    QTemporaryDir data, config, home;
    fakes::ScopedEnv noPravikHome("PRAVIK_HOME", QString());
    fakes::ScopedEnv userHome("HOME", home.path());
    {
        fakes::ScopedEnv dataHome("XDG_DATA_HOME", data.path());
        fakes::ScopedEnv configHome("XDG_CONFIG_HOME", config.path());
        EXPECT_EQ(AppPaths::documents(), data.path() + QStringLiteral("/pravik/Documents"));
        EXPECT_EQ(
            AppPaths::applicationSupport(), data.path() + QStringLiteral("/pravik/Application Support"));
        EXPECT_EQ(AppPaths::preferences(), config.path() + QStringLiteral("/pravik"));
    }
    // Unset, empty or relative XDG variables fall back to the defaults under $HOME.
    for (const QString& value : { QString(), QStringLiteral(""), QStringLiteral("relative/dir") }) {
        SCOPED_TRACE(qPrintable(value));
        fakes::ScopedEnv dataHome("XDG_DATA_HOME", value);
        fakes::ScopedEnv configHome("XDG_CONFIG_HOME", value);
        EXPECT_EQ(AppPaths::documents(), home.path() + QStringLiteral("/.local/share/pravik/Documents"));
        EXPECT_EQ(AppPaths::preferences(), home.path() + QStringLiteral("/.config/pravik"));
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("relative/dir")));
}

TEST(AppPaths, IsInsideResolvesDotsAndNeedsAStrictChild)
{
    const std::vector<std::tuple<const char*, const char*, bool>> cases {
        { "/a/b/c", "/a", true },
        { "/a/b", "/a/", true },
        { "/a/./b", "/a", true },
        { "/a/x/../b", "/a", true },
        { "/a", "/a", false },
        { "/a/", "/a", false },
        { "/a/b/..", "/a", false },
        { "/ab", "/a", false },
        { "/a/../etc/passwd", "/a", false },
        { "/a/b/../../a2/c", "/a", false },
        { "/etc", "/", true },
        { "", "/a", false },
        { "/a/b", "", false },
    };
    for (const auto& [path, root, inside] : cases) {
        SCOPED_TRACE(std::string(path) + " in " + root);
        EXPECT_EQ(AppPaths::isInside(QString::fromLatin1(path), QString::fromLatin1(root)), inside);
    }
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(root_.filePath(QStringLiteral("res/h5/page.html")), "<html/>");
        writeFile(root_.filePath(QStringLiteral("secret.txt")), "outside");
    }
    QString resDir() const { return root_.filePath(QStringLiteral("res")); }

    QTemporaryDir root_;
};

TEST_F(ResourcesTest, FindsFilesUnderPravikResources)
{
    fakes::ScopedEnv resources("PRAVIK_RESOURCES", resDir());
    EXPECT_EQ(Resources::root(), resDir());
    EXPECT_EQ(Resources::path(QStringLiteral("h5/page.html")), resDir() + QStringLiteral("/h5/page.html"));
    EXPECT_EQ(Resources::read(QStringLiteral("h5/page.html")), QByteArray("<html/>"));
    EXPECT_EQ(Resources::path(QStringLiteral("h5/missing.html")), QString());
    EXPECT_FALSE(Resources::read(QStringLiteral("h5/missing.html")));
}

TEST_F(ResourcesTest, PathsNeverLeadOutOfTheResourceFolder)
{
    fakes::ScopedEnv resources("PRAVIK_RESOURCES", resDir());
    ASSERT_TRUE(QFile::exists(resDir() + QStringLiteral("/../secret.txt")));
    for (const char* relative :
        { "../secret.txt", "h5/../../secret.txt", "./../secret.txt", "", ".", "h5/.." }) {
        SCOPED_TRACE(relative);
        EXPECT_EQ(Resources::path(QString::fromLatin1(relative)), QString());
        EXPECT_FALSE(Resources::read(QString::fromLatin1(relative)));
    }
    // An absolute path is taken relative to the folder, not to the file system root.
    EXPECT_EQ(Resources::path(QStringLiteral("/h5/page.html")), resDir() + QStringLiteral("/h5/page.html"));
    EXPECT_EQ(Resources::path(root_.filePath(QStringLiteral("secret.txt"))), QString());
}

TEST_F(ResourcesTest, ARelativePravikResourcesGivesAbsolutePaths)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(root_.path()));
    {
        fakes::ScopedEnv resources("PRAVIK_RESOURCES", QStringLiteral("res"));
        EXPECT_EQ(Resources::root(), resDir());
        EXPECT_EQ(
            Resources::path(QStringLiteral("h5/page.html")), resDir() + QStringLiteral("/h5/page.html"));
    }
    QDir::setCurrent(previous);
}

TEST_F(ResourcesTest, WithoutPravikResourcesTheFolderBesideTheBinaryIsUsed)
{
    // The build copies resources/ next to bin/.
    fakes::ScopedEnv resources("PRAVIK_RESOURCES", root_.filePath(QStringLiteral("no-such-folder")));
    const QString root = Resources::root();
    EXPECT_TRUE(root.endsWith(QStringLiteral("/resources"))) << qPrintable(root);
    EXPECT_TRUE(QFileInfo(root).isAbsolute());
    EXPECT_TRUE(QFileInfo(root).isDir());
}
