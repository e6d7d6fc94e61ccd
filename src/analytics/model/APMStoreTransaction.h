#pragma once

#include <QString>
#include <QtGlobal>

// One payment transaction of the application's store, as the purchase
// reporting and its duplicate filter see it.
struct APMStoreTransaction {
    enum class State : qint32 {
        Purchasing = 0,
        Purchased = 1,
        Failed = 2,
        Restored = 3,
        Deferred = 4,
    };

    QString transactionIdentifier;
    QString originalTransactionIdentifier;
    QString productIdentifier; // of the payment
    qint64 quantity = 1; // of the payment
    double transactionDate = 0; // seconds since 1970
    State transactionState = State::Purchasing;
    qint64 errorCode = 0; // the store's error code; 0 for none

    bool operator==(const APMStoreTransaction&) const = default;
};
