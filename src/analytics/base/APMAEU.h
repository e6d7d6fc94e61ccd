#pragma once

// Whether the application is a store build. Store builds ignore the debug
// and verbose logging switches. This application is never distributed
// through a store that marks its bundles, so the answer is always no.
class APMAEU {
public:
    static bool isFAS() { return false; }
};
