#include "platform/ProcessMemory.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace process_memory_test {

// One mapping of a file in this process, from the kernel's account.
struct Mapping {
    quintptr start = 0;
    quintptr end = 0;
    QByteArray permissions;
    qint64 residentKb = 0;
};

std::vector<Mapping> mappingsOf(const QString& path)
{
    std::vector<Mapping> found;
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly | QIODevice::Text))
        return found;
    bool inside = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && !fields.at(0).endsWith(':')) {
            inside = fields.size() > 5 && fields.at(5) == QFile::encodeName(path);
            if (inside) {
                const QList<QByteArray> range = fields.at(0).split('-');
                found.push_back({ range.at(0).toULongLong(nullptr, 16), range.at(1).toULongLong(nullptr, 16),
                    fields.at(1), 0 });
            }
        } else if (inside && line.startsWith("Rss:")) {
            found.back().residentKb = fields.value(1).toLongLong();
        }
    }
    return found;
}

// A real library's file, to load under other names: its code, its relocated
// read-only data and its writable data are mapped as any library's are.
QString aLibrary()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const int at = line.indexOf('/');
            if (at > 0 && line.contains("/libz.so"))
                return QString::fromLocal8Bit(line.mid(at));
        }
    }
    return QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1");
}

// What each readable mapping holds, read page by page (and so made resident).
std::vector<QByteArray> contents(const std::vector<Mapping>& mappings)
{
    std::vector<QByteArray> read;
    for (const Mapping& mapping : mappings) {
        read.emplace_back(mapping.permissions.startsWith('r')
                ? QByteArray(reinterpret_cast<const char*>(mapping.start), int(mapping.end - mapping.start))
                : QByteArray());
    }
    return read;
}

struct Case {
    const char* what;
    QString pattern;
    QString fileName;
    bool loaded; // by the loader; otherwise the file is only mapped, as a reader of it maps it
    bool codeDropped;
};

TEST(ProcessMemoryTest, DropsOnlyUnchangedPagesOfLoadedLibrariesThatMatchAndKeepsWhatTheyHold)
{
    const QString engine = QStringLiteral("libProbeEngine.so*");
    const Case cases[] = {
        { "a library that matches", engine, QStringLiteral("libProbeEngine.so.6"), true, true },
        { "any library", QStringLiteral("*"), QStringLiteral("libProbeOther.so.6"), true, true },
        { "a library that does not match", engine, QStringLiteral("libProbeOther.so.6"), true, false },
        { "a part of a file name", QStringLiteral("ProbeEngine"), QStringLiteral("libProbeEngine.so.6"), true,
            false },
        { "a library's file mapped by a reader", QStringLiteral("*"), QStringLiteral("libProbeEngine.so.6"),
            false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(c.fileName);
        ASSERT_TRUE(QFile::copy(aLibrary(), path));
        void* mapped = MAP_FAILED;
        const qint64 size = QFileInfo(path).size();
        if (c.loaded) {
            ASSERT_NE(dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL), nullptr)
                << dlerror();
        } else {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
            ASSERT_GE(fd, 0);
            mapped = mmap(nullptr, size_t(size), PROT_READ | PROT_EXEC, MAP_PRIVATE, fd, 0);
            ::close(fd);
            ASSERT_NE(mapped, MAP_FAILED);
        }
        const std::vector<QByteArray> before = contents(mappingsOf(path));
        const std::vector<Mapping> resident = mappingsOf(path);
        bool sawCode = false;
        bool sawRelocated = false;
        for (const Mapping& mapping : resident) {
            sawCode = sawCode || (mapping.permissions == "r-xp" && mapping.residentKb > 0);
            sawRelocated
                = sawRelocated || (c.loaded && mapping.permissions == "r--p" && mapping.residentKb > 0);
        }
        ASSERT_TRUE(sawCode);
        ASSERT_TRUE(sawRelocated || !c.loaded);

        const qint64 dropped = platform::ProcessMemory::dropLibraryPages({ c.pattern });

        const std::vector<Mapping> after = mappingsOf(path);
        ASSERT_EQ(after.size(), resident.size());
        for (size_t i = 0; i < after.size(); ++i) {
            SCOPED_TRACE(after[i].permissions.constData());
            if (c.codeDropped && after[i].permissions == "r-xp") {
                EXPECT_EQ(after[i].residentKb, 0) << "the code no longer counts as this process's";
                EXPECT_GE(dropped, resident[i].residentKb);
            } else if (after[i].permissions != "r--p" || !c.codeDropped) {
                EXPECT_EQ(after[i].residentKb, resident[i].residentKb);
            }
        }
        EXPECT_EQ(contents(after), before) << "the library holds what it held, relocations and data included";
        if (mapped != MAP_FAILED)
            munmap(mapped, size_t(size));
    }
}

TEST(ProcessMemoryTest, NoPatternDropsAnything)
{
    EXPECT_EQ(platform::ProcessMemory::dropLibraryPages({}), 0);
    EXPECT_EQ(platform::ProcessMemory::dropLibraryPages({ QString() }), 0);
}

} // namespace process_memory_test
