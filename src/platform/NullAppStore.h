#pragma once

#include "platform/AppStore.h"

namespace platform {

// No store: nothing is available, no transaction ever arrives.
class NullAppStore final : public AppStore {
public:
    static constexpr const char* kNotAvailable = "The application store is not available";

    bool isAvailable() const override { return false; }
    void requestProducts(const QSet<QString>&, ProductsHandler handler) override
    {
        if (handler)
            handler(std::nullopt, QString::fromLatin1(kNotAvailable));
    }
    void setTransactionObserver(TransactionObserver) override { }
};

} // namespace platform
