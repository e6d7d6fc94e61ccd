#pragma once

#include <QString>

// The engine's worker queue. Here: the check that work meant for the
// background is not running on the main thread.
class APMScheduler {
public:
    // True off the main thread. On the main thread logs level 1, code 30001
    // with the method name and answers false; callers go on either way.
    static bool checkOnBackgroundThreadWithMethodName(const QString& methodName);
};
