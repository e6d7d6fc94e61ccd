#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMStoreReceipt.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMEventRoute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/model/APMEventNames.h"
#include "platform/Clock.h"
#include "platform/GlobalQueue.h"

const QString APMInAppPurchaseTransactionReporter::kInvalidInAppPurchaseEvent = QStringLiteral("_iapx");
const QString APMInAppPurchaseTransactionReporter::kSubscriptionRenewalEvent = QStringLiteral("_assr");
const QString APMInAppPurchaseTransactionReporter::kSubscriptionConversionEvent = QStringLiteral("_assc");
const QString APMInAppPurchaseTransactionReporter::kInvalidMarker = QStringLiteral("invalid");
const QString APMInAppPurchaseTransactionReporter::kSubRenewMarker = QStringLiteral("sub_renew");
const QString APMInAppPurchaseTransactionReporter::kSubConvertMarker = QStringLiteral("sub_convert");

bool APMInAppPurchaseTransactionReporter::hasMarker(const QVariantMap& parameters, const QString& marker)
{
    return parameters.value(marker).toLongLong() == 1;
}

namespace purchase_reporter {

const QString kSandbox = QStringLiteral("sandbox");
constexpr qsizetype kRememberedTransactions = 1000;

} // namespace purchase_reporter

// ---- Life --------------------------------------------------------------------------

APMInAppPurchaseTransactionReporter::Environment APMInAppPurchaseTransactionReporter::defaultEnvironment()
{
    Environment e;
    e.store = &platform::AppStore::shared();
    e.productCache = APMInAppPurchaseProductCache::sharedInstance();
    e.queue = [](std::function<void()> task) { platform::GlobalQueue::async(std::move(task)); };
    e.clock = &platform::Clock::system();
    e.monitor = &APMLibrary::monitor();
    e.receipt = [] { return APMStoreReceipt::readReceipt(); };
    e.isSandbox = [] { return APMAEU::isASRS(); };
    e.logEvent = &APMEventRoute::logEventThroughFrontEndOrEngine;
    return e;
}

APMInAppPurchaseTransactionReporter& APMInAppPurchaseTransactionReporter::sharedInstance()
{
    static APMInAppPurchaseTransactionReporter instance;
    return instance;
}

APMInAppPurchaseTransactionReporter::APMInAppPurchaseTransactionReporter(Environment environment)
    : environment_(std::move(environment))
    , self_(std::make_shared<APMInAppPurchaseTransactionReporter*>(this))
{
    const Environment defaults = defaultEnvironment();
    if (!environment_.store)
        environment_.store = defaults.store;
    if (!environment_.productCache)
        environment_.productCache = APMInAppPurchaseProductCache::create(*environment_.store);
    if (!environment_.queue)
        environment_.queue = defaults.queue;
    if (!environment_.clock)
        environment_.clock = defaults.clock;
    if (!environment_.monitor)
        environment_.monitor = defaults.monitor;
    if (!environment_.receipt)
        environment_.receipt = defaults.receipt;
    if (!environment_.isSandbox)
        environment_.isSandbox = defaults.isSandbox;
    if (!environment_.logEvent)
        environment_.logEvent = defaults.logEvent;
}

APMInAppPurchaseTransactionReporter::~APMInAppPurchaseTransactionReporter()
{
    self_.reset();
}

void APMInAppPurchaseTransactionReporter::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMInAppPurchaseTransactionReporter::log(
    qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment_.monitor->logWithLevel(level, code, message, context);
}

// ---- Entries -------------------------------------------------------------------------

void APMInAppPurchaseTransactionReporter::paymentQueueUpdatedFilteredTransactions(
    const QList<platform::StorePaymentTransaction>& transactions)
{
    QList<platform::StorePaymentTransaction> purchased;
    QSet<QString> missing;
    for (const platform::StorePaymentTransaction& transaction : transactions) {
        if (transaction.state != platform::StorePaymentTransaction::State::Purchased
            || transaction.productIdentifier.isEmpty())
            continue;
        purchased.append(transaction);
        if (!environment_.productCache->cachedProductForProductIdentifier(transaction.productIdentifier))
            missing.insert(transaction.productIdentifier);
    }
    if (purchased.isEmpty())
        return;
    const std::weak_ptr<APMInAppPurchaseTransactionReporter*> weak = self_;
    if (missing.isEmpty()) {
        environment_.queue([weak, purchased] {
            if (const auto self = weak.lock(); self && *self)
                (*self)->reportTransactionsFromArray(purchased);
        });
        return;
    }
    environment_.productCache->requestProductsWithProductIdentifiers(missing, environment_.queue,
        [weak, purchased](std::optional<APMProductsRequest::Products> products, std::optional<QSet<QString>>,
            std::optional<APMError> error) {
            const auto self = weak.lock();
            if (!self || !*self)
                return;
            if (error && (!products || products->isEmpty())) {
                (*self)->log(APMMonitor::kLevelErrorMonitored, 21027,
                    QStringLiteral("Cannot request product information. Error"), error->description());
                return;
            }
            (*self)->reportTransactionsFromArray(purchased);
        });
}

void APMInAppPurchaseTransactionReporter::reportTransactionWithProductID(const QString& productID,
    qint64 paymentQuantity, const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
    std::optional<double> transactionDate, const QByteArray&, const QString&, const QString&)
{
    const std::weak_ptr<APMInAppPurchaseTransactionReporter*> weak = self_;
    const APMDispatch queue = environment_.queue;
    // The receipt is read and parsed in the queued work, as for a batch,
    // never on the caller's thread.
    const auto report = [=](const platform::StoreProduct& product) {
        queue([=] {
            const auto self = weak.lock();
            if (!self || !*self)
                return;
            APMInAppPurchaseTransactionReporter& reporter = **self;
            reporter.reportTransactionWithProduct(product, paymentQuantity, transactionIdentifier,
                originalTransactionIdentifier, transactionDate, reporter.parsePurchasedItemsFromReceipt());
        });
    };
    if (const auto cached = environment_.productCache->cachedProductForProductIdentifier(productID)) {
        report(*cached);
        return;
    }
    environment_.productCache->requestProductsWithProductIdentifiers({ productID }, environment_.queue,
        [weak, report](std::optional<APMProductsRequest::Products> products, std::optional<QSet<QString>>,
            std::optional<APMError> error) {
            const auto self = weak.lock();
            if (!self || !*self)
                return;
            if (!products || products->isEmpty()) {
                (*self)->log(APMMonitor::kLevelErrorMonitored, 21027,
                    QStringLiteral("Cannot request product information. Error"),
                    error ? QVariant(error->description()) : QVariant());
                return;
            }
            report(products->first());
        });
}

// ---- Steps -------------------------------------------------------------------------------

std::optional<QList<APMInAppPurchaseItem>> APMInAppPurchaseTransactionReporter::parsePurchasedItemsFromReceipt() const
{
    const std::optional<QByteArray> receipt = environment_.receipt();
    if (!receipt || receipt->isEmpty())
        return std::nullopt;
    std::optional<QList<APMInAppPurchaseItem>> items = APMStoreReceipt::receiptInAppPurchaseItems(*receipt);
    log(APMMonitor::kLevelDebug, 21028, QStringLiteral("Parsed purchase items from receipt"));
    return items;
}

void APMInAppPurchaseTransactionReporter::reportTransactionsFromArray(
    const QList<platform::StorePaymentTransaction>& transactions)
{
    // Each batch reads its own records: batches may overlap.
    const std::optional<QList<APMInAppPurchaseItem>> records = parsePurchasedItemsFromReceipt();
    for (const platform::StorePaymentTransaction& transaction : transactions) {
        reportTransactionWithProduct(
            environment_.productCache->cachedProductForProductIdentifier(transaction.productIdentifier),
            transaction.quantity, transaction.transactionIdentifier.value_or(QString()),
            transaction.originalTransactionIdentifier, transaction.transactionDate, records);
    }
}

bool APMInAppPurchaseTransactionReporter::claimTransaction(const QString& productID, const QString& transactionIdentifier)
{
    using namespace purchase_reporter;
    if (transactionIdentifier.isEmpty())
        return true; // nothing to know it again by
    const QString key = productID + QLatin1Char('\n') + transactionIdentifier;
    std::lock_guard lock(reportedLock_);
    if (reported_.contains(key))
        return false;
    reported_.insert(key);
    reportedOrder_.push_back(key);
    if (qsizetype(reportedOrder_.size()) > kRememberedTransactions) {
        reported_.remove(reportedOrder_.front());
        reportedOrder_.pop_front();
    }
    return true;
}

void APMInAppPurchaseTransactionReporter::reportTransactionWithProduct(const std::optional<platform::StoreProduct>& product,
    qint64 paymentQuantity, const QString& transactionIdentifier, const QString& originalTransactionIdentifier,
    std::optional<double> transactionDate, const std::optional<QList<APMInAppPurchaseItem>>& records)
{
    using namespace purchase_reporter;
    std::optional<QVariantMap> parameters = transactionEventParameters(
        product, paymentQuantity, transactionIdentifier, originalTransactionIdentifier, transactionDate, records);
    if (!parameters || parameters->isEmpty())
        return;
    if (!claimTransaction(product->productIdentifier, transactionIdentifier)) {
        log(APMMonitor::kLevelDebug, 21029, QStringLiteral("Transaction already reported. Transaction ID"),
            transactionIdentifier);
        return;
    }
    QString name = APMEventNames::kInAppPurchaseEvent;
    if (hasMarker(*parameters, kInvalidMarker)) {
        name = kInvalidInAppPurchaseEvent;
        if (environment_.isSandbox())
            parameters->insert(kSandbox, qint64(1));
        parameters->remove(kInvalidMarker);
    }
    if (hasMarker(*parameters, kSubRenewMarker)) {
        parameters->remove(kSubRenewMarker);
        name = kSubscriptionRenewalEvent;
    }
    if (hasMarker(*parameters, kSubConvertMarker)) {
        parameters->remove(kSubConvertMarker);
        name = kSubscriptionConversionEvent;
    }
    environment_.logEvent(apm_engine::kAutoOrigin, name, *parameters, environment_.clock->now());
}
