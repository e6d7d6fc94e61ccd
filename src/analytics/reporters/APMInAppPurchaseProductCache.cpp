#include "analytics/reporters/APMInAppPurchaseProductCache.h"

#include "analytics/base/APMError.h"

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::create(platform::AppStore& store)
{
    return std::shared_ptr<APMInAppPurchaseProductCache>(new APMInAppPurchaseProductCache(store));
}

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::sharedInstance()
{
    static const std::shared_ptr<APMInAppPurchaseProductCache> instance = create(platform::AppStore::shared());
    return instance;
}

APMInAppPurchaseProductCache::APMInAppPurchaseProductCache(platform::AppStore& store)
    : store_(store)
{
}

std::optional<platform::StoreProduct> APMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const QString& identifier) const
{
    std::lock_guard lock(lock_);
    const auto found = validProducts_.constFind(identifier);
    if (found == validProducts_.cend())
        return std::nullopt;
    return *found;
}

void APMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    const QSet<QString>& identifiers, const APMDispatch& queue, APMProductsRequest::CompletionHandler handler)
{
    if (!queue || !handler)
        return;
    const std::weak_ptr<APMInAppPurchaseProductCache> weak = weak_from_this();
    // The answer is kept where it arrives (under the lock), then forwarded.
    const APMDispatch inline_ = [](std::function<void()> task) { task(); };
    APMProductsRequest::requestProductsWithProductIdentifiers(store_, identifiers, inline_,
        [weak, queue, handler = std::move(handler)](std::optional<APMProductsRequest::Products> products,
            std::optional<QSet<QString>> invalid, std::optional<APMError> error) {
            const auto self = weak.lock();
            if (!self)
                return;
            self->keepAnswer(products.value_or(APMProductsRequest::Products()), invalid.value_or(QSet<QString>()));
            queue([handler, products, invalid, error] { handler(products, invalid, error); });
        });
}

void APMInAppPurchaseProductCache::keepAnswer(const APMProductsRequest::Products& products, const QSet<QString>& invalid)
{
    std::lock_guard lock(lock_);
    for (auto it = products.cbegin(); it != products.cend(); ++it) {
        validProducts_.insert(it.key(), *it);
        invalidProductIdentifiers_.remove(it.key());
    }
    for (const QString& identifier : invalid) {
        validProducts_.remove(identifier);
        invalidProductIdentifiers_.insert(identifier);
    }
    if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
        validProducts_ = products;
        invalidProductIdentifiers_ = invalid;
    }
}

qsizetype APMInAppPurchaseProductCache::validCount() const
{
    std::lock_guard lock(lock_);
    return validProducts_.size();
}

qsizetype APMInAppPurchaseProductCache::invalidCount() const
{
    std::lock_guard lock(lock_);
    return invalidProductIdentifiers_.size();
}
