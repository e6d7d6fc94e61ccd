#include "core/UWSanboxFileManager.h"

#include "fakes/FakeWorkspace.h"
#include "fakes/TempHome.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class UWSanboxFileManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(outside));
        write(outside + QStringLiteral("/victim.txt"), "keep me");
    }

    static void write(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        ASSERT_EQ(file.write(content), content.size());
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void link(const QString& target, const QString& linkPath)
    {
        ASSERT_TRUE(QFile::link(target, linkPath)) << linkPath.toStdString();
    }

    fakes::TempHome home;
    UWSanboxFileManager& files = UWSanboxFileManager::sharedManager();
    const QString docs = platform::AppPaths::documents();
    const QString outside = home.path() + QStringLiteral("/outside");
};

TEST_F(UWSanboxFileManagerTest, IsOneSharedObjectRootedInTheDocumentsFolder)
{
    EXPECT_EQ(&files, &UWSanboxFileManager::sharedManager());
    EXPECT_EQ(files.getDocumentPath(), home.path() + QStringLiteral("/Documents"));
    EXPECT_EQ(files.getSanboxDocumentPath(), files.getDocumentPath());
}

TEST_F(UWSanboxFileManagerTest, FileNamesJoinTheDocumentsFolder)
{
    const std::pair<QString, QString> cases[] = {
        { QStringLiteral("a.wav"), QStringLiteral("/a.wav") },
        { QStringLiteral("/a.wav"), QStringLiteral("/a.wav") },
        { QStringLiteral("REC/x.wav"), QStringLiteral("/REC/x.wav") },
        { QStringLiteral("REC//x/"), QStringLiteral("/REC/x") },
        { QString(), QString() },
        { QStringLiteral("/"), QString() },
    };
    for (const auto& [name, suffix] : cases)
        EXPECT_EQ(files.getAFilePathBasedOnAFileName(name), docs + suffix) << name.toStdString();
}

TEST_F(UWSanboxFileManagerTest, WriteHandlesTruncateOrAppend)
{
    const QString path = files.getAFilePathBasedOnAFileName(QStringLiteral("rec.wav"));
    write(path, "old");

    auto appending = files.createFileHandleWithPath(path, true);
    ASSERT_TRUE(appending);
    EXPECT_EQ(appending->write("+new"), 4);
    appending.reset();
    EXPECT_EQ(read(path), QByteArray("old+new"));

    auto fresh = files.createFileHandleWithPath(path, false);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->write("new"), 3);
    fresh.reset();
    EXPECT_EQ(read(path), QByteArray("new"));

    // A new file is owner read-write, everyone else read.
    const mode_t previous = umask(0);
    auto created = files.createFileHandleWithPath(docs + QStringLiteral("/made.wav"), false);
    umask(previous);
    ASSERT_TRUE(created);
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(docs + QStringLiteral("/made.wav")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(UWSanboxFileManagerTest, NoHandleWithoutAFolderOrAPath)
{
    EXPECT_FALSE(files.createFileHandleWithPath(docs + QStringLiteral("/REC/x.wav"), false));
    EXPECT_FALSE(QFileInfo::exists(docs + QStringLiteral("/REC")));
    EXPECT_FALSE(files.createFileHandleWithPath(QString(), false));
    EXPECT_FALSE(files.createFileHandleWithPath(docs, true));
    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/REC")));
    EXPECT_TRUE(files.createFileHandleWithPath(docs + QStringLiteral("/REC/x.wav"), false));
}

TEST_F(UWSanboxFileManagerTest, NothingOutsideTheFolderIsWrittenOrDeleted)
{
    link(outside, docs + QStringLiteral("/linkOut"));
    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/sub")));
    const QString victim = outside + QStringLiteral("/victim.txt");
    const QString paths[] = {
        docs + QStringLiteral("/../outside/victim.txt"),
        docs + QStringLiteral("/sub/../../outside/victim.txt"),
        victim,
        docs + QStringLiteral("/linkOut/victim.txt"),
        // The folder a link leads to decides, not the text: linkOut/.. is the home folder.
        docs + QStringLiteral("/linkOut/../outside/victim.txt"),
        docs + QStringLiteral("/linkOut/../Documents/../outside/victim.txt"),
        docs,
        docs + QStringLiteral("/.."),
        docs + QStringLiteral("/sub/.."),
        QStringLiteral("/"),
    };
    for (const QString& path : paths) {
        for (bool append : { true, false })
            EXPECT_FALSE(files.createFileHandleWithPath(path, append)) << path.toStdString() << append;
        EXPECT_FALSE(files.deleteFileWithFilePath(path)) << path.toStdString();
        EXPECT_EQ(read(victim), QByteArray("keep me")) << path.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(docs + QStringLiteral("/sub")));
    EXPECT_TRUE(QFileInfo(docs).isDir());
}

TEST_F(UWSanboxFileManagerTest, ALinkInPlaceOfTheFileIsNeverWrittenThrough)
{
    const QString victim = outside + QStringLiteral("/victim.txt");
    const QString linkPath = docs + QStringLiteral("/rec.wav");
    link(victim, linkPath);

    EXPECT_FALSE(files.createFileHandleWithPath(linkPath, true));
    EXPECT_EQ(read(victim), QByteArray("keep me"));

    // Without append the link itself goes and a plain file takes its place.
    auto handle = files.createFileHandleWithPath(linkPath, false);
    ASSERT_TRUE(handle);
    handle->write("audio");
    handle.reset();
    EXPECT_FALSE(QFileInfo(linkPath).isSymLink());
    EXPECT_EQ(read(linkPath), QByteArray("audio"));
    EXPECT_EQ(read(victim), QByteArray("keep me"));
}

TEST_F(UWSanboxFileManagerTest, DeletingInsideTheFolder)
{
    EXPECT_FALSE(files.deleteFileWithFilePath(docs + QStringLiteral("/missing.txt")));
    EXPECT_FALSE(files.deleteFileWithFilePath(QString()));

    write(docs + QStringLiteral("/a.txt"), "a");
    EXPECT_TRUE(files.deleteFileWithFilePath(docs + QStringLiteral("/a.txt")));
    EXPECT_FALSE(QFileInfo::exists(docs + QStringLiteral("/a.txt")));

    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/Log/old")));
    write(docs + QStringLiteral("/Log/old/x.log"), "x");
    EXPECT_TRUE(files.deleteFileWithFilePath(docs + QStringLiteral("/Log/")));
    EXPECT_FALSE(QFileInfo::exists(docs + QStringLiteral("/Log")));

    // A link is removed as a link; what it points at stays.
    link(outside, docs + QStringLiteral("/linkOut"));
    EXPECT_TRUE(files.deleteFileWithFilePath(docs + QStringLiteral("/linkOut")));
    EXPECT_FALSE(QFileInfo(docs + QStringLiteral("/linkOut")).isSymLink());
    EXPECT_EQ(read(outside + QStringLiteral("/victim.txt")), QByteArray("keep me"));
}

TEST_F(UWSanboxFileManagerTest, SizeCountsFilesBelowTheFolderOnly)
{
    EXPECT_EQ(files.getCacheSizeInDocument(), QStringLiteral("0.00 M"));
    write(docs + QStringLiteral("/big.bin"), QByteArray(1048576, 'x'));
    EXPECT_EQ(files.getCacheSizeInDocument(), QStringLiteral("1.00 M"));

    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/REC/deep")));
    write(docs + QStringLiteral("/REC/deep/half.bin"), QByteArray(524288, 'x'));
    // Links are not followed, whatever they lead to.
    write(outside + QStringLiteral("/huge.bin"), QByteArray(4 * 1048576, 'x'));
    link(outside, docs + QStringLiteral("/linkOut"));
    link(outside + QStringLiteral("/huge.bin"), docs + QStringLiteral("/huge.bin"));
    EXPECT_EQ(files.getCacheSizeInDocument(), QStringLiteral("1.50 M"));
}

TEST_F(UWSanboxFileManagerTest, ListingAndClearingTheFolder)
{
    EXPECT_EQ(files.getAllFileNamesInDocument(), QStringList());
    EXPECT_TRUE(files.clearCacheInDocument());

    write(docs + QStringLiteral("/b.txt"), "b");
    write(docs + QStringLiteral("/.hidden"), "h");
    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/REC/inner")));
    write(docs + QStringLiteral("/REC/inner/r.wav"), "r");
    link(outside, docs + QStringLiteral("/linkOut"));
    link(docs + QStringLiteral("/gone"), docs + QStringLiteral("/dangling"));
    ASSERT_TRUE(QDir().mkpath(docs + QStringLiteral("/inner-link-holder")));
    link(outside, docs + QStringLiteral("/inner-link-holder/out"));

    EXPECT_EQ(files.getAllFileNamesInDocument(),
        (QStringList { QStringLiteral(".hidden"), QStringLiteral("REC"), QStringLiteral("b.txt"),
            QStringLiteral("dangling"), QStringLiteral("inner-link-holder"), QStringLiteral("linkOut") }));

    EXPECT_TRUE(files.clearCacheInDocument());
    EXPECT_EQ(files.getAllFileNamesInDocument(), QStringList());
    EXPECT_TRUE(QFileInfo(docs).isDir());
    EXPECT_EQ(read(outside + QStringLiteral("/victim.txt")), QByteArray("keep me"));
}

TEST_F(UWSanboxFileManagerTest, OpeningTheFolderGoesThroughTheWorkspace)
{
    fakes::FakeWorkspace workspace;
    files.openDocumentsDirectory();
    EXPECT_EQ(workspace.openedUrls(), QList<QUrl> { QUrl::fromLocalFile(docs) });
}

} // namespace
