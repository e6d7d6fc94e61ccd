#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform {

// A discounted price a product offers new subscribers.
struct StoreProductDiscount {
    enum class PaymentMode { PayAsYouGo = 0, PayUpFront = 1, FreeTrial = 2 };
    QString price; // decimal text, "0.49"
    PaymentMode paymentMode = PaymentMode::PayAsYouGo;
};

// What the store tells about one product.
struct StoreProduct {
    QString productIdentifier;
    std::optional<QString> price; // decimal text in the currency's units, "0.99"
    QString currencyCode; // of the price's locale; empty when it has none
    std::optional<QString> localizedTitle;
    std::optional<StoreProductDiscount> introductoryPrice;
};

// One payment the store's queue reports.
struct StorePaymentTransaction {
    enum class State { Purchasing = 0, Purchased = 1, Failed = 2, Restored = 3, Deferred = 4 };
    State state = State::Purchasing;
    QString productIdentifier;
    qint64 quantity = 1;
    std::optional<QString> transactionIdentifier;
    QString originalTransactionIdentifier; // of the original transaction; empty for a first purchase
    std::optional<double> transactionDate; // seconds since 1970
    qint64 errorCode = 0;
};

// The application store: product details and the payment queue's
// transactions. There is none on this system today; the null backend
// answers every request "not available" and reports no transaction.
class AppStore {
public:
    struct ProductsResponse {
        QList<StoreProduct> products;
        QStringList invalidProductIdentifiers;
    };
    // Exactly one answer per request, on any thread: the response, or
    // nothing and an error text.
    using ProductsHandler = std::function<void(std::optional<ProductsResponse> response, const QString& error)>;
    // Batches of updated transactions, on any thread.
    using TransactionObserver = std::function<void(const QList<StorePaymentTransaction>& transactions)>;

    virtual ~AppStore() = default;

    virtual bool isAvailable() const = 0;
    virtual void requestProducts(const QSet<QString>& identifiers, ProductsHandler handler) = 0;
    // One observer at a time; an empty one removes it.
    virtual void setTransactionObserver(TransactionObserver observer) = 0;

    // This session's store: the null backend.
    static AppStore& shared();
};

} // namespace platform
