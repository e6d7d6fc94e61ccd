#pragma once

#include <QStringList>

namespace platform {

// Hands memory this process holds but no longer needs back to the system.
// Used once a large subsystem has let go of its work (the page view of a
// window that was closed) while the process stays running in the tray.
class ProcessMemory {
public:
    // Returns the allocator's free pages to the system; the C library keeps
    // them in the process otherwise, counted as its own.
    static void trimHeap();

    // Unmaps this process's copies of unchanged pages of the libraries whose
    // file names match one of `fileNamePatterns` (wildcards, as
    // "libExample.so*", or "*" for every file): their code and read-only
    // data stay in the page cache and are mapped again on their next use, so
    // nothing the program sees changes. Mappings that hold pages of their own
    // (written, relocated), shared mappings and devices are left alone. Returns the kilobytes that were
    // resident in the mappings it dropped.
    static qint64 dropLibraryPages(const QStringList& fileNamePatterns);
};

} // namespace platform
