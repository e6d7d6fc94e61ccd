// The engine's small services of its own: the purchase duplicate filter,
// the first-open time and the network library's log lines.
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/store/APMDatabase.h"
#include "platform/AppStore.h"
#include "platform/GlobalQueue.h"

#include <limits>

namespace measurement_services {

using apm_engine::kFirstOpenTimeProperty;

// The purchase reporter's fingerprint of a store transaction; empty when it
// has none.
QString purchaseReporterFingerprint(const platform::StorePaymentTransaction& transaction, APMMonitor& monitor)
{
    return APMInAppPurchaseTransactionReporter::transactionFingerprint(&transaction, monitor).value_or(QString());
}

} // namespace measurement_services

using namespace measurement_services;

void APMMeasurement::filterPurchaseTransactions(const QList<platform::StorePaymentTransaction>& transactions,
    std::function<void(QList<platform::StorePaymentTransaction>)> callback)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(
        QStringLiteral("APMMeasurement:4063"), [weak, transactions, callback] {
            const auto self = weak.lock();
            if (!self || !*self)
                return;
            APMMeasurement& engine = **self;
            QList<platform::StorePaymentTransaction> result;
            for (const platform::StorePaymentTransaction& transaction : transactions) {
                if (transaction.state != platform::StorePaymentTransaction::State::Purchased)
                    continue;
                const QString fingerprint = engine.shared_.environment.transactionFingerprint
                    ? engine.shared_.environment.transactionFingerprint(transaction)
                    : purchaseReporterFingerprint(transaction, *engine.shared_.environment.monitor);
                if (fingerprint.isEmpty()) {
                    engine.shared_.log(APMMonitor::kLevelErrorSilent, 23139,
                        QStringLiteral("Purchase has nil or empty fingerprint. Purchase will not be checked "
                                       "for duplicates. "
                                       "Product ID"),
                        transaction.productIdentifier);
                    result.append(transaction);
                    continue;
                }
                APMError error;
                const std::optional<bool> isNew = engine.shared_.database
                    ? engine.shared_.database->insertIfNotDuplicatePurchaseFingerprint(fingerprint, &error)
                    : std::nullopt;
                if (!isNew) {
                    engine.shared_.log(APMMonitor::kLevelErrorMonitored, 23140,
                        QStringLiteral("Failed to save purchase fingerprint. Purchase will not be checked "
                                       "for duplicates. "
                                       "Product ID, error"),
                        transaction.productIdentifier, error.description());
                    result.append(transaction);
                } else if (*isNew) {
                    result.append(transaction);
                } else {
                    engine.shared_.log(APMMonitor::kLevelWarningMonitored, 23141,
                        QStringLiteral("Purchase is a duplicate and will not be reported. Product ID"),
                        transaction.productIdentifier);
                }
            }
            if (callback)
                platform::GlobalQueue::async([callback, result] { callback(result); });
        });
}

double APMMeasurement::firstOpenTimestamp()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("firstOpenTimestamp"));
    if (!shared_.database)
        return 0;
    APMError error;
    const std::optional<QList<APMUserAttribute>> properties
        = shared_.database->userAttributesIncludingInternal(true, &error);
    if (!properties) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23123,
            QStringLiteral("Unable to query current user properties. Error"), error.description());
        return 0;
    }
    if (properties->isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorSilent, 23124,
            QStringLiteral("Cannot extract first open timestamp. Empty user properties"));
        return 0;
    }
    // Without a first-open property, the earliest property set is the
    // nearest the first open can be placed.
    double earliest = std::numeric_limits<double>::infinity();
    for (const APMUserAttribute& property : *properties) {
        if (property.name() == kFirstOpenTimeProperty)
            return property.lastSetTimestamp();
        earliest = std::min(earliest, property.lastSetTimestamp());
    }
    return earliest;
}

// ---- Network log lines ----------------------------------------------------------------

void APMMeasurement::VULNetwork_logWithLevel(qint64 level, qint64 code, const QString& message)
{
    VULNetwork_logWithLevelMessageCodeMessageContexts(level, code, message, {});
}

void APMMeasurement::VULNetwork_logWithLevelMessageCodeMessageContext(
    qint64 level, qint64 code, const QString& message, const QVariant& context)
{
    VULNetwork_logWithLevelMessageCodeMessageContexts(level, code, message, QVariantList { context });
}

void APMMeasurement::VULNetwork_logWithLevelMessageCodeMessageContexts(
    qint64 level, qint64 code, const QString& message, const QVariantList& contexts)
{
    // The network library counts its levels like the system log (3 error,
    // 4 warning, 5 notice, 6 info, 7 debug).
    qint64 monitorLevel = APMMonitor::kLevelWarning;
    switch (level) {
    case 3:
        monitorLevel = APMMonitor::kLevelErrorMonitored;
        break;
    case 4:
        monitorLevel = APMMonitor::kLevelWarningMonitored;
        break;
    case 5:
        monitorLevel = APMMonitor::kLevelWarning;
        break;
    case 6:
        monitorLevel = APMMonitor::kLevelNotice;
        break;
    case 7:
        monitorLevel = APMMonitor::kLevelDebug;
        break;
    default:
        break;
    }
    shared_.environment.monitor->logWithLevelContexts(monitorLevel, code, message, contexts);
}
