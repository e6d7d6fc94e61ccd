#pragma once

// When the library was loaded into the process (seconds since 1970; 0 until
// then). The front end records it as the program starts; a data reset makes
// it the new first-open time. Apart from the rest of the front end's state,
// so that recording it makes nothing else of the library. Any thread.
class APMLoadTime {
public:
    static double timestamp();
    static void setTimestamp(double timestamp);
};
