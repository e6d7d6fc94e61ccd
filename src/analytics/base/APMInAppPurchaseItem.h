#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// One in-app purchase record of the store receipt. Dates stay in the
// receipt's own text form ("yyyy-MM-dd'T'HH:mm:ssZZZZZ", GMT).
class APMInAppPurchaseItem {
public:
    // Purchase types the classifier tells apart.
    enum PurchaseType : int {
        NonConsumable = 0,
        Consumable = 1,
        NonRenewingSubscription = 2,
        AutoRenewableSubscription = 3,
    };

    const QString& productID() const { return productID_; }
    void setProductID(const QString& value) { productID_ = value; }
    const QString& transactionID() const { return transactionID_; }
    void setTransactionID(const QString& value) { transactionID_ = value; }
    const QString& originalTransactionID() const { return originalTransactionID_; }
    void setOriginalTransactionID(const QString& value) { originalTransactionID_ = value; }
    const QString& subscriptionExpirationDateIA5String() const { return subscriptionExpirationDateIA5String_; }
    void setSubscriptionExpirationDateIA5String(const QString& value) { subscriptionExpirationDateIA5String_ = value; }
    bool isFreeTrial() const { return freeTrial_; }
    void setFreeTrial(bool value) { freeTrial_ = value; }
    bool isIntroductoryOffer() const { return introductoryOffer_; }
    void setIntroductoryOffer(bool value) { introductoryOffer_ = value; }
    // Nothing when the record carries no type.
    std::optional<int> purchaseType() const { return purchaseType_; }
    void setPurchaseType(std::optional<int> value) { purchaseType_ = value; }
    // Nothing when absent or zero.
    std::optional<quint64> webOrderLineItemID() const { return webOrderLineItemID_; }
    void setWebOrderLineItemID(std::optional<quint64> value) { webOrderLineItemID_ = value; }
    const QString& purchaseDateIA5String() const { return purchaseDateIA5String_; }
    void setPurchaseDateIA5String(const QString& value) { purchaseDateIA5String_ = value; }
    const QString& originalPurchaseDateIA5String() const { return originalPurchaseDateIA5String_; }
    void setOriginalPurchaseDateIA5String(const QString& value) { originalPurchaseDateIA5String_ = value; }
    const QString& cancellationDateIA5String() const { return cancellationDateIA5String_; }
    void setCancellationDateIA5String(const QString& value) { cancellationDateIA5String_ = value; }

    bool operator==(const APMInAppPurchaseItem&) const = default;

private:
    QString productID_;
    QString transactionID_;
    QString originalTransactionID_;
    QString subscriptionExpirationDateIA5String_;
    bool freeTrial_ = false;
    bool introductoryOffer_ = false;
    std::optional<int> purchaseType_;
    std::optional<quint64> webOrderLineItemID_;
    QString purchaseDateIA5String_;
    QString originalPurchaseDateIA5String_;
    QString cancellationDateIA5String_;
};
