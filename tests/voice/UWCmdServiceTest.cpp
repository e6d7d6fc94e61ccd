#include "voice/UWCmdService.h"

#include "fakes/FakeWorkspace.h"
#include "fakes/TempHome.h"
#include "platform/Preferences.h"
#include "voice/CommandBookmarks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const QString kFile = UWCmdService::kFileType;

class UWCmdServiceTest : public ::testing::Test {
protected:
    // A file or folder under the temporary home; folders end with "/".
    QString make(const QString& relative)
    {
        const QString path = home_.path() + QLatin1Char('/') + relative;
        if (relative.endsWith(QLatin1Char('/'))) {
            EXPECT_TRUE(QDir().mkpath(path));
        } else {
            EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        }
        return path;
    }

    QList<QUrl> opened() const { return workspace_.openedUrls(); }

    fakes::TempHome home_;
    platform::Preferences defaults_ { home_.path() + QStringLiteral("/defaults.plist") };
    fakes::FakeWorkspace workspace_;
    UWCmdService service_ { &defaults_ };
};

TEST(UWCmdService, WebAddresses)
{
    struct Case {
        const char* target;
        const char* opens; // encoded form; nullptr when nothing may open
    };
    const Case cases[] = {
        // No scheme: "http://" in front, a blank encoded.
        { "example.com/a b", "http://example.com/a%20b" },
        { "https://example.com/x?q=1&r=2", "https://example.com/x?q=1&r=2" },
        { "http://example.com", "http://example.com" },
        { "HTTPS://example.com/x", "https://example.com/x" },
        { "  example.com/x \n", "http://example.com/x" },
        // A search address whose query is already encoded stays as it is.
        { "https://www.bing.com/search?q=a%26b%20c", "https://www.bing.com/search?q=a%26b%20c" },
        { "https://www.baidu.com/s?ie=utf-8&wd=中 文",
            "https://www.baidu.com/s?ie=utf-8&wd=%E4%B8%AD%20%E6%96%87" },
        { "example.com/100%", "http://example.com/100%25" },
        { "example.com/a\"b<c>{d}|e^f`g\\h#i", "http://example.com/a%22b%3Cc%3E%7Bd%7D%7Ce%5Ef%60g%5Ch%23i" },
        // Whatever the text, only http(s) addresses with a host leave.
        { "file:///etc/passwd", "http://file///etc/passwd" },
        { "javascript:alert(1)", nullptr },
        { "", nullptr },
        { "   ", nullptr },
        { "http://", nullptr },
        { "https:///only/a/path", nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::optional<QUrl> url = UWCmdService::webAddress(QString::fromUtf8(c.target));
        if (!c.opens) {
            EXPECT_FALSE(url.has_value()) << url->toString().toStdString();
            continue;
        }
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->toEncoded(), QByteArray(c.opens));
        EXPECT_TRUE(url->scheme() == QLatin1String("http") || url->scheme() == QLatin1String("https"));
    }
}

TEST_F(UWCmdServiceTest, EveryOtherTypeOpensAWebAddress)
{
    EXPECT_TRUE(service_.openFileWithCmdPath(QStringLiteral("example.com/a b"), QString()));
    EXPECT_TRUE(service_.openFileWithCmdPath(QStringLiteral("https://example.com/"), QStringLiteral("")));
    EXPECT_TRUE(service_.openFileWithCmdPath(QStringLiteral("example.org"), QStringLiteral("web")));
    EXPECT_EQ(opened(),
        (QList<QUrl> { QUrl::fromEncoded("http://example.com/a%20b"),
            QUrl(QStringLiteral("https://example.com/")), QUrl(QStringLiteral("http://example.org")) }));

    // Nothing to open, or a desktop that does not take it, is a failure.
    EXPECT_FALSE(service_.openFileWithCmdPath(QString(), QString()));
    EXPECT_FALSE(service_.openFileWithCmdPath(QString(), kFile));
    EXPECT_FALSE(service_.openFileWithCmdPath(QStringLiteral("http://"), QString()));
    EXPECT_EQ(opened().size(), 3);
    workspace_.setOpenResult(false);
    EXPECT_FALSE(service_.openFileWithCmdPath(QStringLiteral("example.net"), QString()));
}

TEST(CommandBookmarks, LocalPathOfATarget)
{
    const QString nul = QStringLiteral("file:///a") + QChar(0) + QStringLiteral("b");
    const QList<QPair<QString, QString>> cases {
        { QStringLiteral("file:///home/me/My Notes/"), QStringLiteral("/home/me/My Notes/") },
        { QStringLiteral("file:///home/me/a%20b"), QStringLiteral("/home/me/a%20b") },
        { QStringLiteral("file:///"), QStringLiteral("/") },
        { QStringLiteral("file://host/share/x"), QString() },
        { QStringLiteral("file://relative/../x"), QString() },
        { QStringLiteral("/home/me/x"), QString() },
        { QStringLiteral("https://example.com/x"), QString() },
        { nul, QString() },
        { QString(), QString() },
    };
    for (const auto& [target, path] : cases) {
        SCOPED_TRACE(target.toStdString());
        EXPECT_EQ(CommandBookmarks::localPath(target), path);
        EXPECT_EQ(CommandBookmarks::localPath(target).isNull(), path.isNull());
    }
}

TEST_F(UWCmdServiceTest, LocalTargetsOpenThroughTheirBookmark)
{
    const QString file = make(QStringLiteral("My Notes/plan a.txt"));
    const QString folder = make(QStringLiteral("Work Folder/"));
    const QString fileTarget = QStringLiteral("file://") + file;
    const QString folderTarget = QStringLiteral("file://") + folder;

    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, fileTarget));
    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, folderTarget));
    // Kept under the target text exactly, as the canonical path.
    const QString canonicalFile = QFileInfo(file).canonicalFilePath();
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    EXPECT_EQ(defaults_.value(fileTarget), QVariant(canonicalFile));
    EXPECT_EQ(defaults_.value(folderTarget), QVariant(canonicalFolder));

    // "folder" and "file" behave alike.
    for (const QString& type : { kFile, UWCmdService::kFolderType }) {
        EXPECT_TRUE(service_.openFileWithCmdPath(fileTarget, type));
        EXPECT_TRUE(service_.openFileWithCmdPath(folderTarget, type));
    }
    EXPECT_EQ(opened(),
        (QList<QUrl> { QUrl::fromLocalFile(canonicalFile), QUrl::fromLocalFile(canonicalFolder),
            QUrl::fromLocalFile(canonicalFile), QUrl::fromLocalFile(canonicalFolder) }));

    // Written to disk: a new reader of the same defaults file finds it.
    platform::Preferences reread(defaults_.filePath());
    EXPECT_EQ(CommandBookmarks::resolveBookmark(reread, fileTarget), canonicalFile);
}

TEST_F(UWCmdServiceTest, BookmarksHoldTheCanonicalPath)
{
    const QString real = make(QStringLiteral("real/doc.txt"));
    ASSERT_TRUE(QFile::link(home_.path() + QStringLiteral("/real"), home_.path() + QStringLiteral("/alias")));
    const QString target
        = QStringLiteral("file://") + home_.path() + QStringLiteral("/alias/../real/./doc.txt");
    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, target));
    EXPECT_EQ(defaults_.value(target), QVariant(QFileInfo(real).canonicalFilePath()));

    const QString viaLink = QStringLiteral("file://") + home_.path() + QStringLiteral("/alias/doc.txt");
    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, viaLink));
    EXPECT_EQ(defaults_.value(viaLink), QVariant(QFileInfo(real).canonicalFilePath()));
}

TEST_F(UWCmdServiceTest, NothingOpensWithoutAUsableBookmark)
{
    const QString file = make(QStringLiteral("doc.txt"));
    const QString target = QStringLiteral("file://") + file;

    // The file exists, but nobody stored a bookmark for it.
    EXPECT_FALSE(service_.openFileWithCmdPath(target, kFile));

    // A bookmark whose file has gone since.
    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, target));
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_FALSE(service_.openFileWithCmdPath(target, kFile));

    // Entries that are not a path of ours: another kind (a bookmark blob from
    // elsewhere), a relative path, an entry under a key that is no local target.
    const QString other = make(QStringLiteral("other.txt"));
    const QString otherTarget = QStringLiteral("file://") + other;
    for (const QVariant& stored :
        { QVariant(QByteArray("bookmark")), QVariant(QStringLiteral("other.txt")), QVariant(qlonglong(7)) }) {
        ASSERT_TRUE(defaults_.setValue(otherTarget, stored));
        EXPECT_FALSE(service_.openFileWithCmdPath(otherTarget, kFile));
    }
    ASSERT_TRUE(defaults_.setValue(QStringLiteral("notes"), other));
    EXPECT_FALSE(service_.openFileWithCmdPath(QStringLiteral("notes"), kFile));
    EXPECT_TRUE(opened().isEmpty());
}

TEST_F(UWCmdServiceTest, AFailedBookmarkRemovesTheEarlierOne)
{
    const QString file = make(QStringLiteral("doc.txt"));
    const QString target = QStringLiteral("file://") + file;
    ASSERT_TRUE(CommandBookmarks::storeBookmark(defaults_, target));
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_FALSE(CommandBookmarks::storeBookmark(defaults_, target));
    EXPECT_FALSE(defaults_.contains(target));

    // Not local targets, and things that are neither file nor folder: no entry.
    for (const QString& refused : { QStringLiteral("https://example.com/"), QStringLiteral("file://host/x"),
             QStringLiteral("file:///dev/null") }) {
        EXPECT_FALSE(CommandBookmarks::storeBookmark(defaults_, refused)) << refused.toStdString();
        EXPECT_FALSE(defaults_.contains(refused));
    }
}

} // namespace
