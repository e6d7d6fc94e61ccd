// The front end's links (opened addresses and continued activities) and the
// store's purchases.
#include "analytics/base/APMUserActivity.h"
#include "analytics/engine/APMAnalytics.h"
#include "analytics/engine/APMAnalyticsState.h"
#include "analytics/engine/APMInAppPurchaseTransactionReporter.h"
#include "analytics/model/APMStoreTransaction.h"
#include "platform/AppStore.h"
#include "platform/SerialQueue.h"

namespace apm_frontend_links {

// The engine's duplicate filter and the purchase reporter each know the
// store's transactions in their own form; this is the one place where
// they meet.
APMStoreTransaction storeTransactionForFilter(const platform::StorePaymentTransaction& transaction)
{
    APMStoreTransaction converted;
    converted.transactionIdentifier = transaction.transactionIdentifier.value_or(QString());
    converted.originalTransactionIdentifier = transaction.originalTransactionIdentifier;
    converted.productIdentifier = transaction.productIdentifier;
    converted.quantity = transaction.quantity;
    converted.transactionDate = transaction.transactionDate.value_or(0);
    converted.transactionState = static_cast<APMStoreTransaction::State>(transaction.state);
    converted.errorCode = transaction.errorCode;
    return converted;
}

// The filter keeps an ordered part of what it was given: the originals it
// kept, in order, without a conversion back that could lose what the
// filter's form does not carry.
QList<platform::StorePaymentTransaction> keptTransactions(
    const QList<platform::StorePaymentTransaction>& originals, const QList<APMStoreTransaction>& converted,
    const QList<APMStoreTransaction>& kept)
{
    QList<platform::StorePaymentTransaction> result;
    qsizetype next = 0;
    for (const APMStoreTransaction& transaction : kept) {
        while (next < converted.size() && !(converted.at(next) == transaction))
            ++next;
        if (next == converted.size())
            break;
        result.append(originals.at(next++));
    }
    return result;
}

} // namespace apm_frontend_links

using apm_frontend::FrontEndState;
using apm_frontend::state;
using namespace apm_frontend_links;

// ---- Links ----------------------------------------------------------------------------------------

void APMAnalytics::handleOpenURL(const QUrl& url)
{
    const double timestamp = now();
    dispatchAsyncOnSerialQueue([url, timestamp] {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->handleNonFirstOpenEventURL(url, timestamp);
        OpenURLListener listener;
        {
            FrontEndState& s = state();
            std::lock_guard locker(s.mutex);
            listener = s.openURLListener;
        }
        if (listener)
            listener(url);
    });
}

void APMAnalytics::handleUserActivity(const std::optional<APMUserActivity>& activity)
{
    const double timestamp = now();
    dispatchAsyncOnSerialQueue([activity, timestamp] {
        const std::optional<QUrl> link = APMMeasurement::deepLinkFromUserActivity(activity);
        if (!link || link->toString(QUrl::FullyEncoded).isEmpty())
            return;
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->handleNonFirstOpenEventURL(*link, timestamp);
    });
}

void APMAnalytics::setOpenURLListener(OpenURLListener listener)
{
    dispatchAsyncOnSerialQueue([listener = std::move(listener)] {
        FrontEndState& s = state();
        std::lock_guard locker(s.mutex);
        s.openURLListener = listener;
    });
}

// ---- Purchases ------------------------------------------------------------------------------------

void APMAnalytics::logTransactionWithProductID(const QString& productID, qint64 paymentQuantity,
    const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
    std::optional<double> transactionDate, const QByteArray& deviceVerification,
    const QString& deviceVerificationUUID, const QString& deviceVerificationNonce)
{
    purchaseReporter().reportTransactionWithProductID(productID, paymentQuantity, transactionIdentifier,
        originalTransactionIdentifier, transactionDate, deviceVerification, deviceVerificationUUID,
        deviceVerificationNonce);
}

void APMAnalytics::paymentQueueUpdatedTransactions(
    const QList<platform::StorePaymentTransaction>& transactions)
{
    queueOperationWithBlock([transactions] {
        APMMeasurement* engine = APMMeasurement::sharedInstance();
        if (!state().enabled || !engine)
            return;
        QList<APMStoreTransaction> converted;
        converted.reserve(transactions.size());
        for (const platform::StorePaymentTransaction& transaction : transactions)
            converted.append(storeTransactionForFilter(transaction));
        APMInAppPurchaseTransactionReporter* reporter = &purchaseReporter();
        engine->filterPurchaseTransactions(
            converted, [reporter, transactions, converted](const QList<APMStoreTransaction>& kept) {
                const QList<platform::StorePaymentTransaction> filtered
                    = keptTransactions(transactions, converted, kept);
                reporter->paymentQueueUpdatedFilteredTransactions(filtered);
            });
    });
}
