#pragma once

// A monitor of its own on virtual time, with its preferences in a private
// folder: for tests that read the console lines it writes (through the
// utilities logger's sink) and the sampled record it keeps.

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMUserDefaults.h"
#include "analytics/base/VULLogger.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/Preferences.h"

#include <memory>

namespace test_monitor {

struct TestMonitorHarness {
    explicit TestMonitorHarness(VULLogger::Sink sink)
    {
        vul.setLevel(VULLogger::Debug);
        vul.setSink(std::move(sink));
        APMMonitor::Environment e;
        e.queue = &time;
        e.clock = &time;
        e.monitorUserDefaults = &monitorDefaults;
        e.sharedUserDefaults = &sharedDefaults;
        e.utilitiesLogger = &vul;
        e.randomBelow = [](quint64) { return quint64(0); };
        monitor = std::make_unique<APMMonitor>(102700, e);
    }

    // Console lines are written on the monitor's queue: this runs them.
    void flush() { time.runPending(); }
    QString takeRecord() { return monitor->monitoringDataForDispatchWithSamplePeriod(-1, 0); }

    fakes::TempHome home;
    fakes::VirtualTime time;
    platform::Preferences monitorPrefs { home.path() + QStringLiteral("/m.plist") };
    platform::Preferences sharedPrefs { home.path() + QStringLiteral("/s.plist") };
    APMUserDefaults monitorDefaults { APMMonitor::kMonitorSuiteName, monitorPrefs };
    APMUserDefaults sharedDefaults { QString(), sharedPrefs };
    VULLogger vul;
    std::unique_ptr<APMMonitor> monitor;
};

} // namespace test_monitor
