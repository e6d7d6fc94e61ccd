#pragma once

#include <QString>

namespace platform {
class SystemFacts;
} // namespace platform

// Facts about how the application was installed and on what computer it
// runs.
class APMAEU {
public:
    // Whether the application is a store build. Store builds ignore the debug
    // and verbose logging switches. This application is never distributed
    // through a store that marks its bundles, so the answer is always no.
    static bool isFAS() { return false; }

    // The computer's model ("linux" when the firmware does not tell) and the
    // operating system's version, from the given facts or the system's own.
    static QString deviceModel(const platform::SystemFacts* facts = nullptr);
    static QString systemVersion(const platform::SystemFacts* facts = nullptr);
};
