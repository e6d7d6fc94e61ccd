#pragma once

#include <QtGlobal>

class APMMonitor;

// The library's process-wide facts that every layer reaches, the data layer
// and the configuration included, before (or without) an engine.
class APMLibrary {
public:
    // The library version, as the number that goes into monitoring keys
    // (10.27.0 -> 102700).
    static constexpr qint64 kAppMetricsLibraryVersion = 102700;

    // The one process-wide monitor, created on first use with the library
    // version and the process's own environment.
    static APMMonitor& monitor();
};
