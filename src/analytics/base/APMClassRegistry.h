#pragma once

#include <QString>

#include <functional>

// Which optional components are linked into the process, by class name.
// Components that other parts of the library test for by name register
// themselves here; nothing is registered unless it is really present.
class APMClassRegistry {
public:
    // A component that has a version to tell (the public interface's
    // release) gives it with its name.
    static void registerClassName(const QString& name, const QString& version = QString());
    // Also forgets the class's methods.
    static void unregisterClassName(const QString& name);
    static bool classExists(const QString& name);
    // Empty when the class is absent or registered without one.
    static QString classVersion(const QString& name);

    // A class-wide operation a registered component offers by name (its
    // shared instance's initialiser, for example).
    using ClassMethod = std::function<void()>;
    static void registerClassMethod(const QString& className, const QString& method, ClassMethod implementation);
    // Empty when the class or the method is not registered.
    static ClassMethod classMethod(const QString& className, const QString& method);
};
