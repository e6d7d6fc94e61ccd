#include "platform/ProcessMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#ifdef __linux__
#include <dlfcn.h>
#include <link.h>
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace platform {
namespace process_memory {

// One mapping of /proc/self/smaps with what decides whether it may go.
struct Mapping {
    quintptr start = 0;
    quintptr end = 0;
    bool writable = false;
    bool shared = false;
    QString path;
    qint64 residentKb = 0;
    qint64 privateKb = 0; // anonymous pages inside a file mapping: written, relocated
    bool special = false; // device memory, raw page frames or locked pages
};

qint64 fieldKb(const QByteArray& line)
{
    const QList<QByteArray> parts = line.simplified().split(' ');
    return parts.size() >= 2 ? parts.at(1).toLongLong() : 0;
}

std::vector<Mapping> readMappings()
{
    std::vector<Mapping> mappings;
    QFile file(QStringLiteral("/proc/self/smaps"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return mappings;
    // Read in one piece: the file changes as the process maps and unmaps.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const int colon = line.indexOf(':');
        const int space = line.indexOf(' ');
        const bool header = space > 0 && (colon < 0 || colon > space) && line.left(space).contains('-');
        if (header) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            const QList<QByteArray> range = parts.at(0).split('-');
            if (parts.size() < 5 || range.size() != 2)
                continue;
            Mapping mapping;
            bool startOk = false;
            bool endOk = false;
            mapping.start = static_cast<quintptr>(range.at(0).toULongLong(&startOk, 16));
            mapping.end = static_cast<quintptr>(range.at(1).toULongLong(&endOk, 16));
            if (!startOk || !endOk || mapping.end <= mapping.start)
                continue;
            mapping.writable = parts.at(1).contains('w');
            mapping.shared = parts.at(1).contains('s');
            if (parts.size() > 5)
                mapping.path = QString::fromLocal8Bit(parts.mid(5).join(' '));
            mappings.push_back(mapping);
        } else if (!mappings.empty()) {
            if (line.startsWith("Rss:"))
                mappings.back().residentKb = fieldKb(line);
            else if (line.startsWith("Anonymous:"))
                mappings.back().privateKb = fieldKb(line);
            else if (line.startsWith("VmFlags:")) {
                const QList<QByteArray> flags = line.simplified().split(' ');
                mappings.back().special
                    = flags.contains("io") || flags.contains("pf") || flags.contains("lo");
            }
        }
    }
    return mappings;
}

bool named(const QString& path, const QStringList& fileNamePatterns)
{
    if (!path.startsWith(u'/') || path.startsWith(QLatin1String("/dev/")))
        return false;
    const QString name = QFileInfo(path).fileName();
    for (const QString& pattern : fileNamePatterns) {
        if (!pattern.isEmpty() && QDir::match(pattern, name))
            return true;
    }
    return false;
}

#ifdef __linux__
// The address span of one loaded library (or of the program itself).
struct LoadedObject {
    QByteArray name; // empty for the program
    quintptr low = 0;
    quintptr high = 0;
};

int collectObject(dl_phdr_info* info, size_t, void* data)
{
    LoadedObject object;
    object.name = info->dlpi_name ? QByteArray(info->dlpi_name) : QByteArray();
    object.low = ~quintptr(0);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD)
            continue;
        object.low = qMin(object.low, quintptr(info->dlpi_addr + header.p_vaddr));
        object.high = qMax(object.high, quintptr(info->dlpi_addr + header.p_vaddr + header.p_memsz));
    }
    if (object.high > object.low)
        static_cast<std::vector<LoadedObject>*>(data)->push_back(object);
    return 0;
}

std::vector<LoadedObject> loadedObjects()
{
    std::vector<LoadedObject> objects;
    dl_iterate_phdr(&collectObject, &objects);
    return objects;
}

// The libraries that match, made impossible to unload: the span of each then
// holds its own segments for the rest of the process's life, so nothing can
// be mapped into it between reading the mappings and dropping pages.
std::vector<LoadedObject> pinnedObjects(const QStringList& fileNamePatterns)
{
    std::vector<QByteArray> pinned;
    for (const LoadedObject& object : loadedObjects()) {
        if (object.name.isEmpty() || !object.name.startsWith('/')
            || !named(QString::fromLocal8Bit(object.name), fileNamePatterns))
            continue;
        if (void* handle = dlopen(object.name.constData(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) {
            dlclose(handle); // the library stays: it can no longer be unloaded
            pinned.push_back(object.name);
        }
    }
    std::vector<LoadedObject> objects;
    for (const LoadedObject& object : loadedObjects()) { // the spans as they are now
        // The program itself is never unloaded.
        if (object.name.isEmpty() || std::find(pinned.begin(), pinned.end(), object.name) != pinned.end())
            objects.push_back(object);
    }
    return objects;
}

bool insideAny(const Mapping& mapping, const std::vector<LoadedObject>& objects)
{
    for (const LoadedObject& object : objects) {
        if (mapping.start >= (object.low & ~quintptr(0xfff))
            && mapping.end <= ((object.high + 0xfff) & ~quintptr(0xfff)))
            return true;
    }
    return false;
}
#endif

} // namespace process_memory

void ProcessMemory::trimHeap()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

qint64 ProcessMemory::dropLibraryPages(const QStringList& fileNamePatterns)
{
    qint64 dropped = 0;
#ifdef __linux__
    const std::vector<process_memory::LoadedObject> objects = process_memory::pinnedObjects(fileNamePatterns);
    for (const process_memory::Mapping& mapping : process_memory::readMappings()) {
        // A page of its own in a private file mapping exists nowhere else:
        // dropping it would lose the change. Writable mappings may gain one
        // at any moment. Any other mapping of a file may be unmapped, and its
        // place taken, before the pages are dropped.
        if (mapping.writable || mapping.shared || mapping.special || mapping.privateKb != 0
            || mapping.residentKb == 0 || !process_memory::named(mapping.path, fileNamePatterns)
            || !process_memory::insideAny(mapping, objects))
            continue;
        if (madvise(reinterpret_cast<void*>(mapping.start), mapping.end - mapping.start, MADV_DONTNEED) == 0)
            dropped += mapping.residentKb;
    }
#else
    Q_UNUSED(fileNamePatterns)
#endif
    return dropped;
}

} // namespace platform
