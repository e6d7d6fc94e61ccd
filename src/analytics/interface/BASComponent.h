#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// What a library offers the platform's component registry: an instance of
// one interface, made on demand.
template <typename Interface> struct BASComponent {
    enum InstantiationTiming { Lazy = 0, AlwaysEager = 1 };

    QString protocol;
    InstantiationTiming timing = Lazy;
    QStringList dependencies;
    // Makes the instance; `isCacheable` tells the registry whether to keep it.
    std::function<std::shared_ptr<Interface>(bool* isCacheable)> creationBlock;
};
