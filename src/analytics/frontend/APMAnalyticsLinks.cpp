// The front end's links (opened addresses and continued activities) and the
// store's purchases.
#include "analytics/base/APMUserActivity.h"
#include "analytics/frontend/APMAnalytics.h"
#include "analytics/frontend/APMAnalyticsState.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "platform/AppStore.h"
#include "platform/MainQueue.h"
#include "platform/SerialQueue.h"

using apm_frontend::FrontEndState;
using apm_frontend::state;

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

void APMAnalytics::handleEventsForBackgroundURLSession(const QString& identifier, std::function<void()> completion)
{
    dispatchAsyncOnSerialQueue([identifier, completion = std::move(completion)]() mutable {
        if (APMMeasurement* engine = APMMeasurement::sharedInstance())
            engine->handleEventsForBackgroundURLSessionID(identifier, std::move(completion));
        else if (completion)
            platform::MainQueue::shared().async(std::move(completion)); // no engine, nothing in flight
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
        APMInAppPurchaseTransactionReporter* reporter = &purchaseReporter();
        engine->filterPurchaseTransactions(transactions,
            [reporter](const QList<platform::StorePaymentTransaction>& kept) {
                reporter->paymentQueueUpdatedFilteredTransactions(kept);
            });
    });
}
