#pragma once

#include "platform/AppStore.h"

#include <QMap>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class APMError;

// Somewhere to run work later: a global queue, or the test's executor.
using APMDispatch = std::function<void(std::function<void()>)>;

// One request for product details to the application store. The answer
// (products by identifier, invalid identifiers, or an error) reaches the
// handler through the given dispatch, once.
class APMProductsRequest {
public:
    using Products = QMap<QString, platform::StoreProduct>;
    using CompletionHandler = std::function<void(
        std::optional<Products> products, std::optional<QSet<QString>> invalidIdentifiers, std::optional<APMError> error)>;

    static constexpr qint64 kInvalidProductIdentifiersCode = 1;

    // Nothing without a queue or a handler. Without a store (or without
    // identifiers) the handler gets the error code 1 "Invalid product
    // identifiers."; products without an identifier are left out.
    static void requestProductsWithProductIdentifiers(platform::AppStore& store, const QSet<QString>& identifiers,
        const APMDispatch& queue, CompletionHandler completionHandler);
};
