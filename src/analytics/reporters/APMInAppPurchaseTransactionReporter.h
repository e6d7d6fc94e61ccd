#pragma once

#include "analytics/base/APMInAppPurchaseItem.h"
#include "analytics/reporters/APMProductsRequest.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class Clock;
}

class APMInAppPurchaseProductCache;
class APMMonitor;

// Turns the application's completed store purchases into one internal
// event each: "_iap" (counts as revenue), "_iapx" (does not count),
// "_assr" (a subscription renewal) or "_assc" (a free trial converted),
// with product, price and value in micros, quantity, currency and a
// de-duplication id. The purchase records of the store receipt decide which.
//
// A transaction is reported once per process: the same transaction handed
// over again (a repeated observer callback, a restore, both entries) is
// skipped, so a purchase is never counted twice.
class APMInAppPurchaseTransactionReporter {
public:
    static const QString kInvalidInAppPurchaseEvent; // "_iapx"
    static const QString kSubscriptionRenewalEvent; // "_assr"
    static const QString kSubscriptionConversionEvent; // "_assc"
    // Markers in the parameters that pick the event; removed before logging.
    static const QString kInvalidMarker; // "invalid": no revenue
    static const QString kSubRenewMarker; // "sub_renew"
    static const QString kSubConvertMarker; // "sub_convert"

    // origin, name, parameters, timestamp (seconds since 1970).
    using EventLogger = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    struct Environment {
        platform::AppStore* store = nullptr;
        std::shared_ptr<APMInAppPurchaseProductCache> productCache;
        // Where reports run; null: a global queue.
        APMDispatch queue;
        platform::Clock* clock = nullptr;
        APMMonitor* monitor = nullptr;
        // The receipt's bytes; nothing when there is none.
        std::function<std::optional<QByteArray>()> receipt;
        // The receipt is a sandbox (test purchase) receipt.
        std::function<bool()> isSandbox;
        // Null: the engine's logging entry, when the engine exists.
        EventLogger logEvent;
    };
    // The process's own: the shared store and product cache, the receipt
    // file of APMAEU::appStoreRURL(), the engine's logging entry.
    static Environment defaultEnvironment();

    static APMInAppPurchaseTransactionReporter& sharedInstance();
    explicit APMInAppPurchaseTransactionReporter(Environment environment = defaultEnvironment());
    ~APMInAppPurchaseTransactionReporter();

    APMInAppPurchaseTransactionReporter(const APMInAppPurchaseTransactionReporter&) = delete;
    APMInAppPurchaseTransactionReporter& operator=(const APMInAppPurchaseTransactionReporter&) = delete;

    // ---- Entries ----------------------------------------------------------------

    // The payment queue's transactions after the engine's duplicate filter:
    // the purchased ones with a product are reported, product details asked
    // for first where the cache has none.
    void paymentQueueUpdatedFilteredTransactions(const QList<platform::StorePaymentTransaction>& transactions);
    // A transaction of the newer store interface; the device-verification
    // values play no part in the event.
    void reportTransactionWithProductID(const QString& productID, qint64 paymentQuantity,
        const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
        std::optional<double> transactionDate, const QByteArray& deviceVerification,
        const QString& deviceVerificationUUID, const QString& deviceVerificationNonce);

    // ---- Steps ------------------------------------------------------------------

    void reportTransactionsFromArray(const QList<platform::StorePaymentTransaction>& transactions);
    void reportTransactionWithProduct(const std::optional<platform::StoreProduct>& product, qint64 paymentQuantity,
        const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
        std::optional<double> transactionDate, const std::optional<QList<APMInAppPurchaseItem>>& records);
    // The receipt's purchase records; nothing without a receipt.
    std::optional<QList<APMInAppPurchaseItem>> parsePurchasedItemsFromReceipt() const;

    // ---- Classification (pure) ------------------------------------------------

    // The event's parameters, with the markers "invalid", "sub_renew" and
    // "sub_convert" still in; nothing when there is no product or the result
    // lacks price, value, currency or product id.
    std::optional<QVariantMap> transactionEventParameters(const std::optional<platform::StoreProduct>& product,
        qint64 quantity, const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
        std::optional<double> transactionDate, const std::optional<QList<APMInAppPurchaseItem>>& records) const;

    // Records of the product, or purchased at the date (both when both are
    // given), earliest purchase first; nothing without records or criteria.
    static std::optional<QList<APMInAppPurchaseItem>> purchaseItemsMatching(
        const std::optional<QList<APMInAppPurchaseItem>>& records, const std::optional<QString>& productID,
        std::optional<double> date);
    // quantity × price × 1,000,000 in decimal arithmetic, truncated; nothing
    // for a price that is not decimal text or a result outside the int64 range.
    static std::optional<qint64> purchaseValueInMicros(const QString& price, qint64 quantity);
    // −1 when the original id or the product is empty.
    static qint64 purchaseDeduplicationID(
        const QString& originalTransactionID, std::optional<quint64> webOrderLineItemID, const QString& productID);
    static void addSubscriptionChangeParameter(QVariantMap& result, const QList<APMInAppPurchaseItem>& records,
        const std::optional<APMInAppPurchaseItem>& matched);
    // The MD5 text of a purchased transaction's identifier; nothing for
    // other states and for a missing, empty or all-zero identifier.
    static std::optional<QString> transactionFingerprint(
        const platform::StorePaymentTransaction* transaction, APMMonitor& monitor);

    // Receipt dates: "yyyy-MM-dd'T'HH:mm:ssZZZZZ"; nothing when unreadable.
    static std::optional<double> receiptDate(const QString& text);

private:
    static bool hasMarker(const QVariantMap& parameters, const QString& marker);
    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;
    // True the first time a transaction identifier of a product is seen.
    bool claimTransaction(const QString& productID, const QString& transactionIdentifier);

    Environment environment_;
    // What queued work and the product cache's answers hold: empty once the
    // reporter is gone, so that late work does nothing.
    std::shared_ptr<APMInAppPurchaseTransactionReporter*> self_;
    std::mutex reportedLock_;
    std::deque<QString> reportedOrder_;
    QSet<QString> reported_;
};
