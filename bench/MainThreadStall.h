#pragma once

// How long the main thread was kept from its event loop: the longest gap
// between the ticks of a 1 ms timer while the loop runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace bench {

// Runs the main event loop until done() holds or timeoutMs have passed and
// answers the longest gap between two ticks, in milliseconds. onTick runs at
// every tick inside the measured gap, so main-thread work it starts counts
// as a stall.
inline double longestMainThreadStallMs(
    const std::function<void()>& onTick, const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    const auto mark = [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    };
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        onTick();
        mark();
    });
    probe.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    mark();
    return double(longest) / 1e6;
}

} // namespace bench
