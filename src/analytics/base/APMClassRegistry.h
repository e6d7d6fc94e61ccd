#pragma once

#include <QString>

// Which optional components are linked into the process, by class name.
// Components that other parts of the library test for by name register
// themselves here; nothing is registered unless it is really present.
class APMClassRegistry {
public:
    static void registerClassName(const QString& name);
    static void unregisterClassName(const QString& name);
    static bool classExists(const QString& name);
};
