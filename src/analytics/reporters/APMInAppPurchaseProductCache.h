#pragma once

#include "analytics/reporters/APMProductsRequest.h"

#include <QMap>
#include <QSet>

#include <memory>
#include <mutex>
#include <optional>

// The details of the products the store has answered for, kept for the
// process, and the identifiers it called invalid. At most 100 entries:
// an answer that would pass that replaces everything by itself.
class APMInAppPurchaseProductCache : public std::enable_shared_from_this<APMInAppPurchaseProductCache> {
public:
    static constexpr qsizetype kMaxEntries = 100;

    static std::shared_ptr<APMInAppPurchaseProductCache> create(platform::AppStore& store);
    // The process's own, over platform::AppStore::shared().
    static std::shared_ptr<APMInAppPurchaseProductCache> sharedInstance();

    std::optional<platform::StoreProduct> cachedProductForProductIdentifier(const QString& identifier) const;
    // Asks the store and keeps the answer, then hands it on through the
    // caller's queue. Nothing without queue or handler; a cache that is
    // gone when the store answers forwards nothing.
    void requestProductsWithProductIdentifiers(
        const QSet<QString>& identifiers, const APMDispatch& queue, APMProductsRequest::CompletionHandler handler);

    qsizetype validCount() const;
    qsizetype invalidCount() const;

private:
    explicit APMInAppPurchaseProductCache(platform::AppStore& store);
    void keepAnswer(const APMProductsRequest::Products& products, const QSet<QString>& invalid);

    platform::AppStore& store_;
    mutable std::mutex lock_;
    QMap<QString, platform::StoreProduct> validProducts_;
    QSet<QString> invalidProductIdentifiers_;
};
