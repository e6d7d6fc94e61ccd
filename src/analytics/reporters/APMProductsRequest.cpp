#include "analytics/reporters/APMProductsRequest.h"

#include "analytics/base/APMError.h"

void APMProductsRequest::requestProductsWithProductIdentifiers(platform::AppStore& store,
    const QSet<QString>& identifiers, const APMDispatch& queue, CompletionHandler completionHandler)
{
    if (!queue || !completionHandler)
        return;
    if (!store.isAvailable() || identifiers.isEmpty()) {
        queue([handler = std::move(completionHandler)] {
            handler(std::nullopt, std::nullopt,
                APMError::apm_errorWithCode(kInvalidProductIdentifiersCode, QStringLiteral("Invalid product identifiers.")));
        });
        return;
    }
    store.requestProducts(identifiers,
        [queue, handler = std::move(completionHandler)](
            std::optional<platform::AppStore::ProductsResponse> response, const QString& error) {
            if (!response) {
                queue([handler, error] {
                    handler(std::nullopt, std::nullopt, APMError::apm_errorWithCode(kInvalidProductIdentifiersCode, error));
                });
                return;
            }
            Products products;
            for (const platform::StoreProduct& product : response->products) {
                if (!product.productIdentifier.isEmpty())
                    products.insert(product.productIdentifier, product);
            }
            const QSet<QString> invalid(response->invalidProductIdentifiers.begin(), response->invalidProductIdentifiers.end());
            queue([handler, products, invalid] { handler(products, invalid, std::nullopt); });
        });
}
