#include "fakes/TempHome.h"
#include "platform/AppPaths.h"
#include "platform/FileSecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using platform::FileSecretStore;
using platform::SecretItem;
using Status = platform::SecretStore::Status;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat info { };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

class SecretStoreTest : public ::testing::Test {
protected:
    QString path() const { return dir_.filePath(QStringLiteral("secrets.json")); }

    QTemporaryDir dir_;
};

TEST_F(SecretStoreTest, ItemsLiveAcrossInstancesUntilRemoved)
{
    const SecretItem token { QStringLiteral("app-1"), QStringLiteral("token"), QStringLiteral("token"),
        QByteArray("s3cr\0t", 6) };
    const SecretItem other { QStringLiteral("app-2"), QStringLiteral("token"), std::nullopt, "other" };
    {
        FileSecretStore store(path());
        QString error;
        EXPECT_EQ(store.add(token, &error), Status::Success) << error.toStdString();
        EXPECT_EQ(store.add(other, &error), Status::Success);
        EXPECT_EQ(store.add(token, &error), Status::Duplicate);
    }
    FileSecretStore store(path());
    SecretItem found;
    ASSERT_EQ(store.find(QStringLiteral("app-1"), QStringLiteral("token"), &found, nullptr), Status::Success);
    EXPECT_EQ(found, token);
    ASSERT_EQ(store.find(QStringLiteral("app-2"), QStringLiteral("token"), &found, nullptr), Status::Success);
    EXPECT_EQ(found, other); // a missing generic attribute stays missing

    SecretItem changed = token;
    changed.secret = "new";
    EXPECT_EQ(store.update(changed, nullptr), Status::Success);
    ASSERT_EQ(FileSecretStore(path()).find(token.service, token.account, &found, nullptr), Status::Success);
    EXPECT_EQ(found.secret, QByteArray("new"));

    EXPECT_EQ(store.remove(token.service, token.account, nullptr), Status::Success);
    EXPECT_EQ(store.find(token.service, token.account, &found, nullptr), Status::NotFound);
    EXPECT_EQ(store.remove(token.service, token.account, nullptr), Status::NotFound);
    EXPECT_EQ(store.update(changed, nullptr), Status::NotFound);
    EXPECT_EQ(store.find(other.service, other.account, nullptr, nullptr), Status::Success);
}

TEST_F(SecretStoreTest, NoFileMeansNoItems)
{
    FileSecretStore store(path());
    EXPECT_EQ(store.find(QStringLiteral("a"), QStringLiteral("b"), nullptr, nullptr), Status::NotFound);
    EXPECT_FALSE(QFileInfo::exists(path()));
}

TEST_F(SecretStoreTest, FilesAreOwnerOnlyWhateverTheUmask)
{
    const mode_t previous = ::umask(0);
    FileSecretStore store(path());
    const Status status = store.add({ QStringLiteral("s"), QStringLiteral("a"), std::nullopt, "x" }, nullptr);
    ::umask(previous);
    ASSERT_EQ(status, Status::Success);
    EXPECT_EQ(modeOf(path()), mode_t(0600));
    EXPECT_EQ(modeOf(path() + QStringLiteral(".lock")), mode_t(0600));
    // Nothing else is left beside them (no temporary file).
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList({ QStringLiteral("secrets.json"), QStringLiteral("secrets.json.lock") }));
}

TEST_F(SecretStoreTest, LooserPermissionsAreTightenedBeforeReading)
{
    {
        FileSecretStore store(path());
        ASSERT_EQ(store.add({ QStringLiteral("s"), QStringLiteral("a"), std::nullopt, "x" }, nullptr),
            Status::Success);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0644), 0);
    FileSecretStore store(path());
    EXPECT_EQ(store.find(QStringLiteral("s"), QStringLiteral("a"), nullptr, nullptr), Status::Success);
    EXPECT_EQ(modeOf(path()), mode_t(0600));
}

TEST_F(SecretStoreTest, AFileThatCannotBeUnderstoodIsLeftAlone)
{
    const std::vector<QByteArray> damaged {
        "not json",
        R"({"version":2,"items":[]})",
        R"({"version":1,"items":{}})",
        R"({"version":1,"items":[{"service":"s","account":7,"secret":""}]})",
        R"({"version":1,"items":[{"service":"s","account":"a","secret":"%%%"}]})",
    };
    for (const QByteArray& bytes : damaged) {
        writeFile(path(), bytes, 0600);
        FileSecretStore store(path());
        QString error;
        EXPECT_EQ(store.find(QStringLiteral("s"), QStringLiteral("a"), nullptr, &error), Status::Failed)
            << bytes.data();
        EXPECT_FALSE(error.isEmpty());
        error.clear();
        EXPECT_EQ(store.add({ QStringLiteral("s"), QStringLiteral("b"), std::nullopt, "x" }, &error),
            Status::Failed);
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(store.remove(QStringLiteral("s"), QStringLiteral("a"), nullptr), Status::Failed);
        EXPECT_EQ(contentsOf(path()), bytes);
    }
}

TEST_F(SecretStoreTest, WhatIsNotAPlainFileOfThisUserIsRefused)
{
    const QString target = dir_.filePath(QStringLiteral("elsewhere.json"));
    writeFile(target, R"({"version":1,"items":[]})", 0600);
    ASSERT_TRUE(QFile::link(target, path()));
    FileSecretStore linked(path());
    QString error;
    EXPECT_EQ(linked.find(QStringLiteral("s"), QStringLiteral("a"), nullptr, &error), Status::Failed);
    EXPECT_FALSE(error.isEmpty());

    const QString folderPath = dir_.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folderPath));
    FileSecretStore folder(folderPath);
    error.clear();
    EXPECT_EQ(folder.find(QStringLiteral("s"), QStringLiteral("a"), nullptr, &error), Status::Failed);
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(SecretStoreTest, FailuresSayWhy)
{
    // A file where the folder should be: nothing can be written.
    writeFile(dir_.filePath(QStringLiteral("blocker")), "x", 0600);
    FileSecretStore blocked(dir_.filePath(QStringLiteral("blocker/secrets.json")));
    QString error;
    EXPECT_EQ(
        blocked.add({ QStringLiteral("s"), QStringLiteral("a"), std::nullopt, "x" }, &error), Status::Failed);
    EXPECT_FALSE(error.isEmpty());

    FileSecretStore store(path());
    for (const auto& [service, account] : std::vector<std::pair<QString, QString>> {
             { QString(), QStringLiteral("a") }, { QStringLiteral("s"), QString() } }) {
        error.clear();
        EXPECT_EQ(store.find(service, account, nullptr, &error), Status::Failed);
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(store.add({ service, account, std::nullopt, "x" }, nullptr), Status::Failed);
    }
    EXPECT_FALSE(QFileInfo::exists(path()));
}

TEST_F(SecretStoreTest, ConcurrentWritersLoseNothing)
{
    // Separate store objects on one file, as two processes would have.
    constexpr int kWriters = 4;
    constexpr int kItemsEach = 10;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([this, w] {
            FileSecretStore store(path());
            for (int i = 0; i < kItemsEach; ++i)
                store.add({ QStringLiteral("s"), QStringLiteral("%1-%2").arg(w).arg(i), std::nullopt, "x" },
                    nullptr);
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    FileSecretStore store(path());
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kItemsEach; ++i)
            EXPECT_EQ(
                store.find(QStringLiteral("s"), QStringLiteral("%1-%2").arg(w).arg(i), nullptr, nullptr),
                Status::Success);
    }
}

TEST(SharedSecretStoreTest, LivesInApplicationSupport)
{
    fakes::TempHome home;
    auto& store = dynamic_cast<FileSecretStore&>(platform::SecretStore::shared());
    EXPECT_EQ(store.filePath(), platform::AppPaths::applicationSupport() + QStringLiteral("/secrets.json"));
    ASSERT_EQ(
        store.add({ QStringLiteral("s"), QStringLiteral("a"), std::nullopt, "x" }, nullptr), Status::Success);
    EXPECT_EQ(modeOf(store.filePath()), mode_t(0600));
}

} // namespace
